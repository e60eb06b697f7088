--TEST--
fatal: a vector constructor with a numeric string
--FILE--
<?php
echo "start\n";
new_std__vectorT_int_t("3");
echo "not reached\n";
--EXPECT--
start

Fatal error: No matching function for overloaded 'new_std__vectorT_int_t' in %FILE% on line 3

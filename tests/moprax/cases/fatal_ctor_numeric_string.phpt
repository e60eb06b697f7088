--TEST--
fatal: a vector constructor with a numeric string
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
new_std__vectorT_int_t("3");
echo "not reached\n";
--EXPECTF--
start

Fatal error: No matching function for overloaded 'new_std__vectorT_int_t' in %s on line 3

--TEST--
fatal: a vector constructor with two arguments
--FILE--
<?php
echo "start\n";
new_std__vectorT_std__string_t(1, 2);
echo "not reached\n";
--EXPECT--
start

Fatal error: No matching function for overloaded 'new_std__vectorT_std__string_t' in %FILE% on line 3

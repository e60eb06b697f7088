--TEST--
fatal: a vector constructor with two arguments
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
new_std__vectorT_std__string_t(1, 2);
echo "not reached\n";
--EXPECTF--
start

Fatal error: No matching function for overloaded 'new_std__vectorT_std__string_t' in %s on line 3

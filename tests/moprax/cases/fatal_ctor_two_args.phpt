--TEST--
fatal: a map constructor with two arguments
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
new_std__mapT_int_int_t(1, 2);
echo "not reached\n";
--EXPECTF--
start

Fatal error: No matching function for overloaded 'new_std__mapT_int_int_t' in %s on line 3

--TEST--
fatal: a map constructor with an integer
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
new_std__mapT_int_std__string_t(1);
echo "not reached\n";
--EXPECTF--
start

Fatal error: No matching function for overloaded 'new_std__mapT_int_std__string_t' in %s on line 3

--TEST--
fatal: a map constructor with a map of another type
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
new_std__mapT_int_int_t(new_std__mapT_std__string_int_t());
echo "not reached\n";
--EXPECTF--
start

Fatal error: No matching function for overloaded 'new_std__mapT_int_int_t' in %s on line 3

--TEST--
fatal: a map constructor with a map of another type
--FILE--
<?php
echo "start\n";
new_std__mapT_int_int_t(new_std__mapT_std__string_int_t());
echo "not reached\n";
--EXPECT--
start

Fatal error: No matching function for overloaded 'new_std__mapT_int_int_t' in %FILE% on line 3

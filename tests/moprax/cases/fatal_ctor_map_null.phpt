--TEST--
fatal: a map constructor with null
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
new_std__mapT_int_int_t(null);
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 1 of new_std__mapT_int_int_t. Expected SWIGTYPE_p_std__mapT_int_int_t in %s on line 3

--TEST--
fatal: a vector of another element type
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
std__vectorT_int_t_size(new_std__vectorT_std__string_t());
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 1 of std__vectorT_int_t_size. Expected SWIGTYPE_p_std__vectorT_int_t in %s on line 3

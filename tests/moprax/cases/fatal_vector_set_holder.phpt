--TEST--
fatal: a holder vector set with null
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
$v = new_std__vectorT_mopra__StrHolder_t(1);
std__vectorT_mopra__StrHolder_t_set($v, 0, null);
echo "not reached\n";
--EXPECTF--
start
init xallocator 0x%x 
init xallocator 0x%x 
init xallocator 0x%x 

Fatal error: Type error in argument 3 of std__vectorT_mopra__StrHolder_t_set. Expected SWIGTYPE_p_mopra__StrHolder in %s on line 4
uninit xallocator 0x%x 
uninit xallocator 0x%x 
uninit xallocator 0x%x

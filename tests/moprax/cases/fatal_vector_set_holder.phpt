--TEST--
fatal: a holder vector set with null
--FILE--
<?php
echo "start\n";
$v = new_std__vectorT_mopra__StrHolder_t(1);
std__vectorT_mopra__StrHolder_t_set($v, 0, null);
echo "not reached\n";
--EXPECT--
start

Fatal error: Type error in argument 3 of std__vectorT_mopra__StrHolder_t_set. Expected SWIGTYPE_p_mopra__StrHolder in %FILE% on line 4

--TEST--
fatal: a holder vector push with a non-holder
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
std__vectorT_mopra__StrHolder_t_push(new_std__vectorT_mopra__StrHolder_t(), new_mopra_StringHolder());
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 2 of std__vectorT_mopra__StrHolder_t_push. Expected SWIGTYPE_p_mopra__StrHolder in %s on line 3

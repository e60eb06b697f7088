--TEST--
fatal: a string list where a holder list is expected
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
mopra__conv_list_strholder(new_std__vectorT_std__string_t(), new_std__vectorT_std__string_t());
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 2 of mopra__conv_list_strholder. Expected SWIGTYPE_p_std__vectorT_mopra__StrHolder_t in %s on line 3

--TEST--
fatal: null as an input holder
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
mopra__deserialize(new_std__vectorT_std__string_t(), null);
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 2 of mopra__deserialize. Expected SWIGTYPE_p_mopra__StrHolder in %s on line 3

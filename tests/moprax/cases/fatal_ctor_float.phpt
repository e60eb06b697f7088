--TEST--
fatal: a vector constructor with a float
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
new_std__vectorT_mopra__StrHolder_t(3.0);
echo "not reached\n";
--EXPECTF--
start

Fatal error: No matching function for overloaded 'new_std__vectorT_mopra__StrHolder_t' in %s on line 3

--TEST--
fatal: a vector constructor with a float
--FILE--
<?php
echo "start\n";
new_std__vectorT_mopra__StrHolder_t(3.0);
echo "not reached\n";
--EXPECT--
start

Fatal error: No matching function for overloaded 'new_std__vectorT_mopra__StrHolder_t' in %FILE% on line 3

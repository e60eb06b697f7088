--TEST--
faults: a borrowed element used as input or output of a function that grows its own vector
--EXTENSIONS--
MopraX
--FILE--
<?php
$v = new_std__vectorT_mopra__StrHolder_t();
$h = new_mopra__StrHolder();
foreach (["a", "bb", "ccc"] as $x) { mopra__StrHolder_value_set($h, $x); std__vectorT_mopra__StrHolder_t_push($v, $h); }
$e = std__vectorT_mopra__StrHolder_t_get($v, 1);
var_dump(mopra__serialize2($e, $v, 0), bin2hex(mopra__StrHolder_value_get($e)));
var_dump(mopra__deserialize2($v, $e), std__vectorT_mopra__StrHolder_t_size($v));
$s = new_mopra__StrHolder();
var_dump(mopra__wma_encode2($e, $v, $e, 0x300, 0));
$sec = new_mopra__StrHolder();
var_dump(mopra__wma_encode2($s, $v, $sec, 0x300, 0));
$e0 = std__vectorT_mopra__StrHolder_t_get($v, 0);
mopra__StrHolder_value_set($e0, mopra__StrHolder_value_get($s));
var_dump(mopra__wma_decode2($v, $e0, $sec, 0x300, 60), std__vectorT_mopra__StrHolder_t_size($v));
mopra__StrHolder_unpackStr($e0, $e0, true);
std__vectorT_mopra__StrHolder_t_push($v, $e0);
echo "ok\n";
--EXPECTF--
init xallocator 0x%x 
init xallocator 0x%x 
init xallocator 0x%x 
int(0)
string(44) "03000000010000006102000000626203000000636363"
int(0)
int(6)
int(0)
int(0)
int(0)
int(12)
ok
uninit xallocator 0x%x 
uninit xallocator 0x%x 
uninit xallocator 0x%x

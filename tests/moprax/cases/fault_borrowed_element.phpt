--TEST--
faults: a borrowed holder element follows its vector by index and is gone, not dangling
--EXTENSIONS--
MopraX
--FILE--
<?php
function use_it($what, $e) {
    try {
        $value = mopra__StrHolder_value_get($e);
        echo "$what: ", var_export($value, true), "\n";
    } catch (Exception $x) {
        echo "$what: ", $x->getCode(), " ", $x->getMessage(), "\n";
    }
}
function filled($n) {
    $v = new_std__vectorT_mopra__StrHolder_t();
    $h = new_mopra__StrHolder();
    for ($i = 0; $i < $n; $i++) {
        mopra__StrHolder_value_set($h, "item$i");
        std__vectorT_mopra__StrHolder_t_push($v, $h);
    }
    return $v;
}
$v = filled(2);
$e = std__vectorT_mopra__StrHolder_t_get($v, 1);
for ($i = 0; $i < 100; $i++) std__vectorT_mopra__StrHolder_t_push($v, new_mopra__StrHolder());
use_it("after pushes (reallocated)", $e);
std__vectorT_mopra__StrHolder_t_reserve($v, 10000);
use_it("after reserve", $e);
std__vectorT_mopra__StrHolder_t_pop($v);
use_it("after a pop above it", $e);
while (std__vectorT_mopra__StrHolder_t_size($v) > 1) std__vectorT_mopra__StrHolder_t_pop($v);
use_it("after its pop", $e);
try { mopra__StrHolder_packI8($e, 1); } catch (Exception $x) { echo "pack: ", $x->getCode(), " ", $x->getMessage(), "\n"; }
try { mopra__hexing(new_mopra__StrHolder(), $e, 0); } catch (Exception $x) { echo "as input: ", $x->getCode(), "\n"; }
var_dump(swig_MopraX_get_newobject($e));
std__vectorT_mopra__StrHolder_t_push($v, new_mopra__StrHolder());
use_it("index valid again", $e);
std__vectorT_mopra__StrHolder_t_clear($v);
use_it("after clear", $e);
echo "-- list functions that append\n";
$v = new_std__vectorT_mopra__StrHolder_t();
$strings = new_std__vectorT_std__string_t();
std__vectorT_std__string_t_push($strings, "s0");
mopra__conv_list_str($v, $strings);
$e = std__vectorT_mopra__StrHolder_t_get($v, 0);
for ($i = 0; $i < 50; $i++) mopra__conv_list_str($v, $strings);
use_it("after conv_list_str", $e);
$ser = new_mopra__StrHolder();
mopra__serialize($ser, $strings, 0);
for ($i = 0; $i < 50; $i++) mopra__deserialize2($v, $ser);
use_it("after deserialize2", $e);
echo "-- the vector's resource lives while an element does\n";
$e = std__vectorT_mopra__StrHolder_t_get(filled(3), 2);
use_it("vector variable gone", $e);
mopra__StrHolder_value_set($e, "still writable");
use_it("written", $e);
$v = filled(1);
$e = std__vectorT_mopra__StrHolder_t_get($v, 0);
unset($v);
use_it("after unset of the vector", $e);
unset($e);
echo "done\n";
--EXPECTF--
init xallocator 0x%x 
init xallocator 0x%x 
init xallocator 0x%x 
after pushes (reallocated): 'item1'
after reserve: 'item1'
after a pop above it: 'item1'
after its pop: -4 vector index out of range
pack: -4 vector index out of range
as input: -4
int(0)
index valid again: ''
after clear: -4 vector index out of range
-- list functions that append
after conv_list_str: 's0'
after deserialize2: 's0'
-- the vector's resource lives while an element does
vector variable gone: 'item2'
written: 'still writable'
after unset of the vector: 'item0'
done
uninit xallocator 0x%x 
uninit xallocator 0x%x 
uninit xallocator 0x%x

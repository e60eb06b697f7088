--TEST--
containers: the three vectors, every function
--EXTENSIONS--
MopraX
--FILE--
<?php
function show($v) { echo var_export($v, true), "\n"; }
foreach (['int' => [5, -7, 2**32 + 3], 'std__string' => ["a\0b", "", "xyz"]] as $t => $items) {
    $p = "std__vectorT_{$t}_t";
    echo "-- $p\n";
    $v = ("new_$p")();
    show(("{$p}_size")($v));
    show(("{$p}_is_empty")($v));
    foreach ($items as $x) ("{$p}_push")($v, $x);
    show(("{$p}_size")($v));
    show(("{$p}_is_empty")($v));
    show(("{$p}_get")($v, 0));
    show(("{$p}_get")($v, 2));
    ("{$p}_set")($v, 1, $items[0]);
    show(("{$p}_get")($v, 1));
    ("{$p}_reserve")($v, 100);
    show(("{$p}_capacity")($v) >= 100);
    show(("{$p}_pop")($v));
    show(("{$p}_size")($v));
    ("{$p}_clear")($v);
    show(("{$p}_size")($v));
    show(("{$p}_capacity")($v) >= 100);
    $d = ("new_$p")(3);
    show(("{$p}_size")($d));
    show(("{$p}_get")($d, 2));
    $z = ("new_$p")(0);
    show(("{$p}_is_empty")($z));
    foreach ([-1, 3] as $bad) {
        try { ("{$p}_set")($d, $bad, $items[0]); } catch (Exception $e) { echo $e->getCode(), " ", $e->getMessage(), "\n"; }
    }
    show(("{$p}_get")($d, 0));
}
echo "-- holders\n";
$p = "std__vectorT_mopra__StrHolder_t";
$v = new_std__vectorT_mopra__StrHolder_t();
$h = new_mopra__StrHolder();
mopra__StrHolder_value_set($h, "one\0");
mopra__StrHolder_cursor_set($h, 3);
mopra__StrHolder_error_set($h, -9);
std__vectorT_mopra__StrHolder_t_push($v, $h);
mopra__StrHolder_value_set($h, "changed after push");
$e = std__vectorT_mopra__StrHolder_t_get($v, 0);
show([mopra__StrHolder_value_get($e), mopra__StrHolder_cursor_get($e), mopra__StrHolder_error_get($e)]);
mopra__StrHolder_value_set($e, "changed inside");
std__vectorT_mopra__StrHolder_t_set($v, 0, $e);  // set from its own element
show(mopra__StrHolder_value_get(std__vectorT_mopra__StrHolder_t_get($v, 0)));
std__vectorT_mopra__StrHolder_t_set($v, 0, $h);
show(mopra__StrHolder_value_get($e));
show(std__vectorT_mopra__StrHolder_t_size($v));
show(std__vectorT_mopra__StrHolder_t_is_empty($v));
std__vectorT_mopra__StrHolder_t_reserve($v, 10);
show(std__vectorT_mopra__StrHolder_t_capacity($v) >= 10);
$popped = std__vectorT_mopra__StrHolder_t_pop($v);
mopra__StrHolder_value_set($popped, "changed after pop");
show(std__vectorT_mopra__StrHolder_t_size($v));
$d = new_std__vectorT_mopra__StrHolder_t(2);
$x = std__vectorT_mopra__StrHolder_t_get($d, 1);
show([mopra__StrHolder_value_get($x), mopra__StrHolder_cursor_get($x), mopra__StrHolder_error_get($x)]);
std__vectorT_mopra__StrHolder_t_push($d, $popped);
show(mopra__StrHolder_value_get(std__vectorT_mopra__StrHolder_t_get($d, 2)));
std__vectorT_mopra__StrHolder_t_clear($d);
show(std__vectorT_mopra__StrHolder_t_is_empty($d));
try { std__vectorT_mopra__StrHolder_t_pop($d); } catch (Exception $e) { echo $e->getCode(), " ", $e->getMessage(), "\n"; }
try { std__vectorT_mopra__StrHolder_t_get($d, 0); } catch (Exception $e) { echo $e->getCode(), " ", $e->getMessage(), "\n"; }
try { std__vectorT_mopra__StrHolder_t_reserve($d, -1); } catch (Exception $e) { echo $e->getCode(), "\n"; }
--EXPECTF--
-- std__vectorT_int_t
0
true
init xallocator 0x%x 
init xallocator 0x%x 
init xallocator 0x%x 
3
false
5
3
5
true
3
2
0
true
3
0
true
-4 vector index out of range
-4 vector index out of range
0
-- std__vectorT_std__string_t
0
true
3
false
'a' . "\0" . 'b'
'xyz'
'a' . "\0" . 'b'
true
'xyz'
2
0
true
3
''
true
-4 vector index out of range
-4 vector index out of range
''
-- holders
array (
  0 => 'one' . "\0" . '',
  1 => 3,
  2 => -9,
)
'changed inside'
'changed after push'
1
false
true
0
array (
  0 => '',
  1 => 0,
  2 => 0,
)
'changed after pop'
true
-4 pop from empty vector
-4 vector index out of range
-3
uninit xallocator 0x%x 
uninit xallocator 0x%x 
uninit xallocator 0x%x

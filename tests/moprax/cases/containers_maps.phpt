--TEST--
containers: the four maps, every function, copy constructors
--EXTENSIONS--
MopraX
--FILE--
<?php
function show($v) { echo var_export($v, true), "\n"; }
$maps = [
    'int_std__string' => [[1, -5, 2**32 + 2], ["a\0", "b", "c"]],
    'std__string_std__string' => [["k\0", "", "z"], ["v\0v", "empty key", ""]],
    'std__string_int' => [["x", "y", "x\0"], [1, -2, 2**31]],
    'int_int' => [[0, -1, 7], [10, 20, 30]],
];
foreach ($maps as $t => [$keys, $values]) {
    $p = "std__mapT_{$t}_t";
    echo "-- $p\n";
    $m = ("new_$p")();
    show([("{$p}_size")($m), ("{$p}_is_empty")($m)]);
    foreach ($keys as $i => $k) ("{$p}_set")($m, $k, $values[$i]);
    show([("{$p}_size")($m), ("{$p}_is_empty")($m)]);
    foreach ($keys as $k) show(("{$p}_get")($m, $k));
    ("{$p}_set")($m, $keys[0], $values[1]);  // replaces, the size stays
    show([("{$p}_get")($m, $keys[0]), ("{$p}_size")($m)]);
    show([("{$p}_has_key")($m, $keys[1]), ("{$p}_has_key")($m, 12345)]);
    $copy = ("new_$p")($m);
    ("{$p}_del")($m, $keys[1]);
    show([("{$p}_has_key")($m, $keys[1]), ("{$p}_size")($m), ("{$p}_size")($copy), ("{$p}_get")($copy, $keys[1])]);
    ("{$p}_set")($copy, $keys[2], $values[0]);
    show([("{$p}_get")($m, $keys[2]), ("{$p}_get")($copy, $keys[2])]);
    foreach (['get', 'del'] as $op) {
        try { ("{$p}_$op")($m, $keys[1]); } catch (Exception $e) { echo "$op: ", $e->getCode(), " ", $e->getMessage(), "\n"; }
    }
    ("{$p}_clear")($m);
    show([("{$p}_size")($m), ("{$p}_is_empty")($m), ("{$p}_size")($copy)]);
    $o = new stdClass();
    $o->_cPtr = $copy;
    show(("{$p}_size")(("new_$p")($o)));
}
--EXPECTF--
-- std__mapT_int_std__string_t
array (
  0 => 0,
  1 => true,
)
init xallocator 0x%x 
init xallocator 0x%x 
init xallocator 0x%x 
array (
  0 => 3,
  1 => false,
)
'a' . "\0" . ''
'b'
'c'
array (
  0 => 'b',
  1 => 3,
)
array (
  0 => true,
  1 => false,
)
array (
  0 => false,
  1 => 2,
  2 => 3,
  3 => 'b',
)
array (
  0 => 'c',
  1 => 'a' . "\0" . '',
)
get: -4 key not found
del: -4 key not found
array (
  0 => 0,
  1 => true,
  2 => 3,
)
3
-- std__mapT_std__string_std__string_t
array (
  0 => 0,
  1 => true,
)
array (
  0 => 3,
  1 => false,
)
'v' . "\0" . 'v'
'empty key'
''
array (
  0 => 'empty key',
  1 => 3,
)
array (
  0 => true,
  1 => false,
)
array (
  0 => false,
  1 => 2,
  2 => 3,
  3 => 'empty key',
)
array (
  0 => '',
  1 => 'v' . "\0" . 'v',
)
get: -4 key not found
del: -4 key not found
array (
  0 => 0,
  1 => true,
  2 => 3,
)
3
-- std__mapT_std__string_int_t
array (
  0 => 0,
  1 => true,
)
array (
  0 => 3,
  1 => false,
)
1
-2
-2147483648
array (
  0 => -2,
  1 => 3,
)
array (
  0 => true,
  1 => false,
)
array (
  0 => false,
  1 => 2,
  2 => 3,
  3 => -2,
)
array (
  0 => -2147483648,
  1 => 1,
)
get: -4 key not found
del: -4 key not found
array (
  0 => 0,
  1 => true,
  2 => 3,
)
3
-- std__mapT_int_int_t
array (
  0 => 0,
  1 => true,
)
array (
  0 => 3,
  1 => false,
)
10
20
30
array (
  0 => 20,
  1 => 3,
)
array (
  0 => true,
  1 => false,
)
array (
  0 => false,
  1 => 2,
  2 => 3,
  3 => 20,
)
array (
  0 => 30,
  1 => 10,
)
get: -4 key not found
del: -4 key not found
array (
  0 => 0,
  1 => true,
  2 => 3,
)
3
uninit xallocator 0x%x 
uninit xallocator 0x%x 
uninit xallocator 0x%x

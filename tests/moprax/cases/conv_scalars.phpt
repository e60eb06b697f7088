--TEST--
conventions: integer, 64-bit, boolean and string arguments
--EXTENSIONS--
MopraX
--FILE--
<?php
$i = new_mopra__IntegralHolder();
$s = new_mopra__StrHolder();
function i32($v) { global $s; mopra__StrHolder_cursor_set($s, $v); return mopra__StrHolder_cursor_get($s); }
function i64($v) { global $i; mopra__IntegralHolder_value_set($i, $v); return mopra__IntegralHolder_value_get($i); }
echo "-- integer: PHP's integer conversion, low 32 bits\n";
foreach ([2**32 + 1, -1, 2**31, 2**31 - 1, -2**31 - 1, "12abc", " 7", "x", 3.99, -3.99, true, false, null, 2**32 * 3 + 5] as $v)
    echo var_export($v, true), " -> ", i32($v), "\n";
echo "-- 64-bit\n";
foreach ([PHP_INT_MAX, PHP_INT_MIN, "123abc", "  -42", "+17", "99999999999999999999", "-99999999999999999999",
          "abc", "", 2.9, -2.9, 1e30, -1e30, INF, -INF, NAN, 9.2233720368547758e18, true, null, "0x1A", " \t\n5"] as $v)
    echo var_export($v, true), " -> ", i64($v), "\n";
echo "-- boolean\n";
$src = new_mopra__StrHolder();
mopra__StrHolder_packI8($src, 1);
foreach ([true, false, 0, 1, -1, "", "0", "00", "a", 0.0, 0.1, [], [0], null] as $v) {
    mopra__StrHolder_cursor_set($src, 0);
    mopra__StrHolder_unpackI8($src, $i, $v);
    echo var_export($v, true), " -> ", mopra__StrHolder_cursor_get($src), "\n";
}
echo "-- string\n";
foreach (["a\0b\0", 42, -1.5, true, false, null] as $v) {
    mopra__StrHolder_value_set($s, $v);
    echo bin2hex(mopra__StrHolder_value_get($s)), " ", mopra__StrHolder_getLength($s), "\n";
}
echo "-- arguments keep their types and values\n";
$n = "77";
$f = 1.5;
mopra__StrHolder_cursor_set($s, $n);
mopra__IntegralHolder_value_set($i, $f);
mopra__StrHolder_value_set($s, $f);
var_dump($n, $f);
echo "-- a non-convertible string argument\n";
try {
    mopra__StrHolder_value_set($s, new stdClass());
} catch (Error $e) {
    echo get_class($e), ": ", $e->getMessage(), "\n";
}
echo bin2hex(mopra__StrHolder_value_get($s)), "\n";
--EXPECTF--
-- integer: PHP's integer conversion, low 32 bits
4294967297 -> 1
-1 -> -1
2147483648 -> -2147483648
2147483647 -> 2147483647
-2147483649 -> 2147483647
'12abc' -> 12
' 7' -> 7
'x' -> 0
3.99 -> 3
-3.99 -> -3
true -> 1
false -> 0
NULL -> 0
12884901893 -> 5
-- 64-bit
9223372036854775807 -> 9223372036854775807
-9223372036854775807-1 -> -9223372036854775808
'123abc' -> 123
'  -42' -> -42
'+17' -> 17
'99999999999999999999' -> 9223372036854775807
'-99999999999999999999' -> -9223372036854775808
'abc' -> 0
'' -> 0
2.9 -> 2
-2.9 -> -2
1.0E+30 -> 9223372036854775807
-1.0E+30 -> -9223372036854775808
INF -> 9223372036854775807
-INF -> -9223372036854775808
NAN -> 0
9.223372036854776E+18 -> 9223372036854775807
true -> 1
NULL -> 0
'0x1A' -> 0
' 	
5' -> 5
-- boolean
true -> 1
false -> 0
0 -> 0
1 -> 1
-1 -> 1
'' -> 0
'0' -> 0
'00' -> 1
'a' -> 1
0.0 -> 0
0.1 -> 1
array (
) -> 0
array (
  0 => 0,
) -> 1
NULL -> 0
-- string
61006200 4
3432 2
2d312e35 4
31 1
 0
 0
-- arguments keep their types and values
string(2) "77"
float(1.5)
-- a non-convertible string argument
Error: Object of class stdClass could not be converted to string
312e35

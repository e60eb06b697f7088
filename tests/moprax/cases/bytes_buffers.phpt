--TEST--
byte buffers: written in place into the caller's variable only, read from any string
--EXTENSIONS--
MopraX
--FILE--
<?php
$s = new_mopra__StrHolder();
mopra__StrHolder_value_set($s, "abc");
$buf = str_repeat("\0", 10);
$shared = $buf;
var_dump(mopra__StrHolder_getBinVal($s, $buf, 0), bin2hex($buf), strlen($buf), bin2hex($shared));
echo "-- a literal is never written\n";
function lit() { return mopra__StrHolder_getBinVal($GLOBALS['s'], "\0\0\0\0", 0); }
var_dump(lit(), lit(), bin2hex("\0\0\0\0"));
var_dump(mopra__StrHolder_getBinVal($s, "xyzw", 1));
echo "-- an integer is written into a converted copy\n";
$n = 12345;
var_dump(mopra__StrHolder_getBinVal($s, $n, 0), $n);
echo "-- offsets and sizes\n";
$four = "....";
var_dump(mopra__StrHolder_getBinVal($s, $four, 2), $four);
var_dump(mopra__StrHolder_getBinVal($s, $four, 4), mopra__StrHolder_getBinVal($s, $four, -1), $four);
$empty = "";
var_dump(mopra__StrHolder_getBinVal($s, $empty, 0), $empty);
echo "-- the written string's hash is fresh\n";
$key = str_repeat("-", 3);
$a = [$key => 1];
mopra__StrHolder_getBinVal($s, $key, 0);
$a[$key] = 2;
var_dump($key, $a);
echo "-- array element and property\n";
$arr = ["k" => "____"];
mopra__StrHolder_getBinVal($s, $arr["k"], 1);
$obj = new stdClass(); $obj->p = "____";
mopra__StrHolder_getBinVal($s, $obj->p, 0);
var_dump($arr["k"], $obj->p);
echo "-- mopra_StringHolder\n";
$h = new_mopra_StringHolder();
mopra_StringHolder_setBinVal($h, "0123456789", 8, 5);
var_dump(mopra_StringHolder_value_get($h));
mopra_StringHolder_setBinVal($h, "0123456789", 10, 5);
var_dump(mopra_StringHolder_value_get($h));
mopra_StringHolder_setBinVal($h, "ab", 0, 2);
mopra_StringHolder_setBinVal($h, "0123456789", 0, -1);
var_dump(mopra_StringHolder_value_get($h));
mopra_StringHolder_setBinVal($h, 4711, 1, 9);
var_dump(mopra_StringHolder_value_get($h));
$out = "\0\0\0\0";
var_dump(mopra_StringHolder_getBinVal($h, $out, 1), bin2hex($out));
echo "-- StrHolder setBinVal, unpackBin from a literal and into a variable\n";
mopra__StrHolder_setBinVal($s, "a\0b\0c", 1, 10);
var_dump(bin2hex(mopra__StrHolder_value_get($s)));
$p = new_mopra__StrHolder();
mopra__StrHolder_packBin($p, "hello", 0, 5);
var_dump(mopra__StrHolder_unpackBin($p, "\0\0\0\0\0", 0, false));
$dst = str_repeat("\0", 6);
$copy = $dst;
var_dump(mopra__StrHolder_unpackBin($p, $dst, 1, true), bin2hex($dst), bin2hex($copy), mopra__StrHolder_cursor_get($p));
mopra__StrHolder_cursor_set($p, 0);
$small = "1234";
var_dump(mopra__StrHolder_unpackBin($p, $small, 0, true), $small, mopra__StrHolder_cursor_get($p));
--EXPECT--
int(3)
string(20) "61626300000000000000"
int(10)
string(20) "00000000000000000000"
-- a literal is never written
int(3)
int(3)
string(8) "00000000"
int(3)
-- an integer is written into a converted copy
int(3)
int(12345)
-- offsets and sizes
int(2)
string(4) "..ab"
int(0)
int(-1)
string(4) "..ab"
int(0)
string(0) ""
-- the written string's hash is fresh
string(3) "abc"
array(2) {
  ["---"]=>
  int(1)
  ["abc"]=>
  int(2)
}
-- array element and property
string(4) "_abc"
string(4) "abc_"
-- mopra_StringHolder
string(2) "89"
string(0) ""
string(2) "ab"
string(3) "711"
int(3)
string(8) "00373131"
-- StrHolder setBinVal, unpackBin from a literal and into a variable
string(8) "00620063"
int(5)
int(5)
string(12) "0068656c6c6f"
string(12) "000000000000"
int(9)
int(-1)
string(4) "1234"
int(0)

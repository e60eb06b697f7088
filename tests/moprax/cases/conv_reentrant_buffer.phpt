--TEST--
conversion runs PHP code: a byte buffer outlives the code that reassigns or shares its variable
--EXTENSIONS--
MopraX
--FILE--
<?php
class Str {
    function __construct(public $fn, public string $s) {}
    function __toString(): string { ($this->fn)(); return $this->s; }
}
$fn = null;
set_error_handler(function ($no, $msg) use (&$fn) { $fn(); return true; });
$h = new_mopra__StrHolder();
mopra__StrHolder_value_set($h, str_repeat("v", 64));
$p = new_mopra__StrHolder();
mopra__StrHolder_packBin($p, str_repeat("p", 32), 0, 32);

echo "-- error handler\n";
$buf = str_repeat("\0", 64);
$fn = function () { $GLOBALS['buf'] = 1; };
var_dump(mopra__StrHolder_getBinVal($h, $buf, new stdClass()), $buf);
$buf = str_repeat("\0", 64);
var_dump(mopra__StrHolder_unpackBin($p, $buf, new stdClass(), false), $buf);
$buf = str_repeat("\0", 8);
$fn = function () { $GLOBALS['copy'] = $GLOBALS['buf']; };
var_dump(mopra__StrHolder_getBinVal($h, $buf, new stdClass()), bin2hex($buf), bin2hex($copy));
$s = new_mopra_StringHolder();
$buf = str_repeat("\0", 64);
$fn = function () { $GLOBALS['buf'] = "short"; };
mopra_StringHolder_setBinVal($s, $buf, new stdClass(), 64);
var_dump(mopra_StringHolder_getLength($s));
$buf = str_repeat("s", 64);
var_dump(mopra_StringHolder_getBinVal($s, $buf, new stdClass()), $buf);
$buf = str_repeat("b", 64);
$fn = function () { unset($GLOBALS['buf']); };
var_dump(mopra__StrHolder_packBin($p, $buf, 0, new stdClass()), isset($buf));

echo "-- __toString\n";
$buf = new Str(function () { $GLOBALS['buf'] = "replaced"; }, str_repeat("\0", 4));
var_dump(mopra__StrHolder_getBinVal($h, $buf, 0), $buf);
$arg = new Str(function () { $GLOBALS['arg'] = null; }, str_repeat("a", 64));
mopra__StrHolder_setBinVal($h, $arg, 0, 64);
var_dump(mopra__StrHolder_value_get($h) === str_repeat("a", 64), $arg);
--EXPECT--
-- error handler
int(63)
int(1)
int(32)
int(1)
int(7)
string(16) "0076767676767676"
string(16) "0000000000000000"
int(63)
int(63)
string(5) "short"
int(1)
bool(false)
-- __toString
int(4)
string(8) "replaced"
bool(true)
NULL

<?php
// The PHP half of the MopraX <-> MopraXJNI check.
//   php crosslang.php make FILE        writes "wma <token>", "noise64 <token>", "base64 <token>"
//                                      to FILE (the allocator prints to stdout)
//   php crosslang.php decode W N B     decodes the three tokens, exits 1 on a mismatch
// The shared constants are those of tests/crosslang/CrossLang.java.
function h($v) { $s = new_mopra__StrHolder(); mopra__StrHolder_value_set($s, $v); return $s; }
function v($s) { return mopra__StrHolder_value_get($s); }
$parts = ["alpha", "beta gamma", "\xc3\xa9t\xc3\xa9"];
$secret = "cross-secret";
$flags = 0x300;
$value = -1234567890123;
$key = 99;
$bytes = "\x00\xff\x10\x41\x80";

$out = new_mopra__StrHolder();
if ($argv[1] === "make") {
    $l = new_std__vectorT_std__string_t();
    foreach ($parts as $p) std__vectorT_std__string_t_push($l, $p);
    if (mopra__wma_encode($out, $l, h($secret), $flags, 0) !== 0) exit(2);
    $text = "wma " . v($out) . "\n";
    if (mopra__noise64($out, $value, $key) !== 0) exit(2);
    $text .= "noise64 " . v($out) . "\n";
    if (mopra__base64_encode($out, h($bytes), 0) !== 0) exit(2);
    $text .= "base64 " . v($out) . "\n";
    file_put_contents($argv[2], $text);
    exit(0);
}
$bad = 0;
$l = new_std__vectorT_std__string_t();
$rc = mopra__wma_decode($l, h($argv[2]), h($secret), $flags, 3600);
$got = [];
for ($i = 0; $i < std__vectorT_std__string_t_size($l); $i++) $got[] = std__vectorT_std__string_t_get($l, $i);
echo "php: wma_decode $rc ", implode("|", $got), "\n";
if ($rc !== 0 || $got !== $parts) $bad = 1;
$i = new_mopra__IntegralHolder();
$rc = mopra__denoise64($i, h($argv[3]), $key);
echo "php: denoise64 $rc ", mopra__IntegralHolder_value_get($i), "\n";
if ($rc !== 0 || mopra__IntegralHolder_value_get($i) != $value) $bad = 1;
$rc = mopra__base64_decode($out, h($argv[4]), 0);
echo "php: base64_decode $rc ", bin2hex(v($out)), "\n";
if ($rc !== 0 || v($out) !== $bytes) $bad = 1;
exit($bad);

<?php
// MopraX demo: holders, containers and a codec round trip (hex, Base64, an envelope).
// run: php -n -d extension=<build>/MopraX.so demo/php/moprax_demo.php

function holder(string $value) {
    $h = new_mopra__StrHolder();
    mopra__StrHolder_value_set($h, $value);
    return $h;
}

function check(string $what, bool $ok) {
    echo ($ok ? "ok   " : "FAIL ") . $what . "\n";
    if (!$ok) exit(1);
}

preg_match('/Version:\s*([0-9.]+)/', mopra__info(), $m);
echo "MopraX ", $m[1], "\n";

// Holders: pack a small record, read it back.
$rec = new_mopra__StrHolder();
mopra__StrHolder_packI32($rec, 2026);
mopra__StrHolder_packStr($rec, "toka");
mopra__StrHolder_packI64($rec, PHP_INT_MAX);
$n = new_mopra__IntegralHolder();
$s = new_mopra__StrHolder();
mopra__StrHolder_unpackI32($rec, $n, true);
mopra__StrHolder_unpackStr($rec, $s, true);
$year = mopra__IntegralHolder_value_get($n);
mopra__StrHolder_unpackI64($rec, $n, true);
check("packed record of " . mopra__StrHolder_getLength($rec) . " bytes reads back",
      $year === 2026 && mopra__StrHolder_value_get($s) === "toka" && mopra__IntegralHolder_value_get($n) === PHP_INT_MAX);

// Containers: a list of strings and a map.
$parts = new_std__vectorT_std__string_t();
foreach (["header", "payload \0 with a NUL", ""] as $p) std__vectorT_std__string_t_push($parts, $p);
$index = new_std__mapT_std__string_int_t();
for ($i = 0; $i < std__vectorT_std__string_t_size($parts); $i++)
    std__mapT_std__string_int_t_set($index, "part$i", strlen(std__vectorT_std__string_t_get($parts, $i)));
check("list of " . std__vectorT_std__string_t_size($parts) . " parts, map of " . std__mapT_std__string_int_t_size($index) . " sizes",
      std__mapT_std__string_int_t_get($index, "part1") === 20);
try {
    std__vectorT_std__string_t_get($parts, 3);
} catch (Exception $e) {
    check("out of range: Exception " . $e->getCode() . " \"" . $e->getMessage() . "\"", $e->getCode() === -4);
}

// Hex and Base64 round trips.
$in = holder("Toka \x00\xff bytes");
$hex = new_mopra__StrHolder();
$back = new_mopra__StrHolder();
mopra__hexing($hex, $in, 0);
mopra__unhexing($back, $hex, 0);
check("hex " . mopra__StrHolder_value_get($hex), mopra__StrHolder_value_get($back) === mopra__StrHolder_value_get($in));
$b64 = new_mopra__StrHolder();
mopra__base64_encode($b64, $in, 0);
mopra__base64_decode($back, $b64, 0);
check("base64 " . mopra__StrHolder_value_get($b64), mopra__StrHolder_value_get($back) === mopra__StrHolder_value_get($in));

// An envelope: serialized, LZF-compressed, sealed with Jenkins and a secret, scrambled, Base64.
$secret = holder("demo secret");
$token = new_mopra__StrHolder();
$rc = mopra__wma_encode($token, $parts, $secret, 0x100, 0);
$got = new_std__vectorT_std__string_t();
$rc2 = mopra__wma_decode($got, $token, $secret, 0x100, 60);
$same = std__vectorT_std__string_t_size($got) === 3;
for ($i = 0; $same && $i < 3; $i++)
    $same = std__vectorT_std__string_t_get($got, $i) === std__vectorT_std__string_t_get($parts, $i);
check("envelope of " . mopra__StrHolder_getLength($token) . " characters decodes ($rc, $rc2)", $rc === 0 && $rc2 === 0 && $same);
check("wrong secret refused (" . mopra__wma_decode($got, $token, holder("guess"), 0x100, 60) . ")",
      mopra__wma_decode($got, $token, holder("guess"), 0x100, 60) < 0);
echo "done\n";

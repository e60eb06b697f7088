--TEST--
module: the information table and the resource type names
--EXTENSIONS--
MopraX
--FILE--
<?php
ob_start();
phpinfo(INFO_MODULES);
$info = ob_get_clean();
$at = strpos($info, "\nMopraX\n");
echo substr($info, $at + 1, strpos($info, "\n\n", strpos($info, "Description")) - $at - 1), "\n";
foreach ([new_std__vectorT_int_t(), new_std__vectorT_std__string_t(),
          new_std__vectorT_mopra__StrHolder_t(), new_std__mapT_int_std__string_t(),
          new_std__mapT_std__string_std__string_t(), new_std__mapT_std__string_int_t(),
          new_std__mapT_int_int_t(), new_mopra_StringHolder(), new_mopra__IntegralHolder(),
          new_mopra__StrHolder(), new_mopra__OpHandleHolder()] as $r) {
    echo get_resource_type($r), "\n";
}
$v = new_std__vectorT_mopra__StrHolder_t(1);
echo get_resource_type(std__vectorT_mopra__StrHolder_t_get($v, 0)), "\n";
--EXPECTF--
MopraX

Name => MopraX
Version => 1.1
Description => Shared types, operations for Toka libraries.
_p_std__vectorT_int_t
_p_std__vectorT_std__string_t
_p_std__vectorT_mopra__StrHolder_t
_p_std__mapT_int_std__string_t
_p_std__mapT_std__string_std__string_t
_p_std__mapT_std__string_int_t
_p_std__mapT_int_int_t
_p_mopra_StringHolder
_p_mopra__IntegralHolder
_p_mopra__StrHolder
_p_mopra__OpHandleHolder
init xallocator 0x%x 
init xallocator 0x%x 
init xallocator 0x%x 
_p_mopra__StrHolder
uninit xallocator 0x%x 
uninit xallocator 0x%x 
uninit xallocator 0x%x

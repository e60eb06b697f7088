--TEST--
conventions: a wrong argument count warns with the registered name and returns null
--EXTENSIONS--
MopraX
--FILE--
<?php
$s = new_mopra__StrHolder();
var_dump(mopra__StrHolder_packI8($s));
var_dump(mopra__StrHolder_packI8($s, 1, 2));
var_dump(mopra__StrHolder_getLength());
var_dump(new_mopra__StrHolder(1));
var_dump(mopra__info(1));
var_dump(mopra__wma_encode(1, 2, 3, 4));
var_dump(swig_MopraX_alter_newobject($s));
var_dump(swig_MopraX_get_newobject($s, 1));
var_dump(std__mapT_int_int_t_set(new_std__mapT_int_int_t(), 1));
// nothing happened to the holder
var_dump(mopra__StrHolder_getLength($s));
// a thrown warning is a catchable exception and the function still has no effect
set_error_handler(function ($no, $str) { throw new ErrorException($str, 0, $no); });
try {
    mopra__StrHolder_packI8($s, 1, 2, 3);
} catch (ErrorException $e) {
    echo get_class($e), ": ", $e->getMessage(), "\n";
}
var_dump(mopra__StrHolder_getLength($s));
--EXPECTF--
Warning: Wrong parameter count for mopra__strholder_packi8() in %s on line 3
NULL

Warning: Wrong parameter count for mopra__strholder_packi8() in %s on line 4
NULL

Warning: Wrong parameter count for mopra__strholder_getlength() in %s on line 5
NULL

Warning: Wrong parameter count for new_mopra__strholder() in %s on line 6
NULL

Warning: Wrong parameter count for mopra__info() in %s on line 7
NULL

Warning: Wrong parameter count for mopra__wma_encode() in %s on line 8
NULL

Warning: Wrong parameter count for swig_MopraX_alter_newobject() in %s on line 9
NULL

Warning: Wrong parameter count for swig_MopraX_get_newobject() in %s on line 10
NULL

Warning: Wrong parameter count for std__mapt_int_int_t_set() in %s on line 11
NULL
int(0)
ErrorException: Wrong parameter count for mopra__strholder_packi8()
int(0)

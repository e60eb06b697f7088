# cmake -DHEADER=<generated _types.h> -P ThriftEnumFix.cmake
# Gives every enumeration of a Thrift-generated header the fixed underlying type int32_t,
# the i32 they travel as: any int is then a valid value (a setter or a reader may store a
# number the IDL does not name) instead of undefined behaviour.
file(READ ${HEADER} text)
string(REPLACE "  enum type {" "  enum type : int32_t {" text "${text}")
file(WRITE ${HEADER} "${text}")

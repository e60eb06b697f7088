// The storing operations of xlru_table (mopralib/inc/xds/xlru_table_impl.h), one header
// each under xlru_table_main_impl/. Included by the chief header; not for direct use.
#ifndef TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_H
#define TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_H

#include "mopralib/inc/xds/xlru_table_main_impl/add.h"
#include "mopralib/inc/xds/xlru_table_main_impl/update.h"
#include "mopralib/inc/xds/xlru_table_main_impl/add_or_update.h"
#include "mopralib/inc/xds/xlru_table_main_impl/warmup.h"

#endif  // TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_MAIN_IMPL_H

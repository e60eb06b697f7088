#include "src/wdb/kc/TSKVAdapterStorage.h"

namespace wdb {

// The one instantiation of the system, compiled once here.
template class RefStringSerializer<xstring>;
template class TSKVAdapterCursor<xstring, xstring, XStringSerializer, XStringSerializer>;
template class TSKVAdapterStorage<xstring, xstring, SKVItem, XStringSerializer, XStringSerializer>;

}  // namespace wdb

// MopraX: the PHP module over the shared types (holders, containers, the mopra free
// functions). The engine loads it through get_module; module start-up registers the 24
// resource types; the request hooks and module shut-down do nothing.
//
// The 146 PHP functions are the rows of one table in MopraX_wrapwrap.cpp, run by the
// convention layer (php/php55_conv.h), which holds the calling rules, the ownership of
// resources and the module error state. Not thread-safe: built for the non-thread-safe
// engine, one thread per process.
#ifndef TOKA_PHP_MOPRAX_WRAPWRAP_H
#define TOKA_PHP_MOPRAX_WRAPWRAP_H

extern "C" {
#include "php.h"
}

extern zend_module_entry MopraX_module_entry;

extern "C" {
// The one exported symbol: the module entry's address.
ZEND_DLEXPORT zend_module_entry* get_module(void);
}

PHP_MINIT_FUNCTION(MopraX);
PHP_MSHUTDOWN_FUNCTION(MopraX);
PHP_RINIT_FUNCTION(MopraX);
PHP_RSHUTDOWN_FUNCTION(MopraX);
PHP_MINFO_FUNCTION(MopraX);

// Sets the module error state to "Unknown error occurred", level 1.
void MopraX_init_globals();

#endif  // TOKA_PHP_MOPRAX_WRAPWRAP_H

#include "default_config.h"

#include <cstdlib>

// 3800 + 40-byte header = 3840 bytes per page.
const xpage_config default_xpage_config = {3800, 0, 0, 2048, std::malloc, std::free};
// 4169688 + 40 = 4169728 bytes = 1018 pages of 4096.
const xpage_config default_xbigpage_config = {4169688, 0, 0, 48, std::malloc, std::free};
// 25165784 + 40 = 25165824 bytes = 24 MiB.
const xpage_config default_xhugepage_config = {25165784, 0, 0, 8, std::malloc, std::free};

const xlabs_config default_xlabs_config = {200, 1.25, 0, 2};
const xlabs_config default_xbiglabs_config = {200, 1.25, 0, 2};
const xlabs_config default_xhugelabs_config = {200, 1.25, 0, 2};

/* The layouts a host relies on, as a C compiler lays them out. The C++
 * test compares them with its own: the two languages must agree, whatever
 * the headers' conditionals or packing do for each. */
#include <stddef.h>
#include <stdint.h>

#include "hx_entry.h"
#include "layout_in_c.h"

#define HX_LAYOUT_ENTRY(expr) (uint32_t)(expr),
const uint32_t hxLayoutInC[] = {HX_ABI_LAYOUT(HX_LAYOUT_ENTRY)};
const uint32_t hxLayoutInCCount = sizeof hxLayoutInC / sizeof hxLayoutInC[0];

// Rings: the lists of the engine. An element begins with a LINK4; the list
// keeps its last element, whose next is the first.
#pragma once

#include "xbase/d4data.h"

void l4add(LIST4* list, void* item);                    // at the end
void l4addAfter(LIST4* list, void* anchor, void* item);
void l4addBefore(LIST4* list, void* anchor, void* item);
void* l4first(const LIST4* list);
void* l4last(const LIST4* list);
void* l4next(const LIST4* list, const void* item);  // null item: the first; the last: null
void* l4prev(const LIST4* list, const void* item);  // null item: the last; the first: null
void* l4pop(LIST4* list);                           // removes the last
void l4remove(LIST4* list, void* item);
inline unsigned l4numNodes(const LIST4* list) { return list->numLinks; }

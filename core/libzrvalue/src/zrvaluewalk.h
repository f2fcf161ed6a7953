// SPDX-License-Identifier: GPL-2.0-or-later
// walkValue: the one walk over a value's tree, for every operation that
// visits nested arrays (copy, compare, release, rendering, the XML writer,
// the attachment lists). It keeps the open arrays on a heap stack instead of
// recursing, so that no nesting depth can exhaust the call stack.
#pragma once

#include <cstddef>
#include <vector>

#include "zrvalue.h"

namespace ZR {

namespace walk {

inline const ZRValue& elementOf(const ZRValue& array, std::size_t index)
{
    return array.elements()[index];
}

inline ZRValue& elementOf(ZRValue& array, std::size_t index)
{
    return array[static_cast<int>(index)];
}

}  // namespace walk

// Visits `root` and every value inside it, depth first, elements in index
// order. `enter(value, index)` is called for each value, an array before its
// elements; `index` is the value's place in its array, -1 for the root.
// `leave(array)` is called after an array's elements. The walk stops as soon
// as `enter` returns false, and walkValue then returns false.
//
// `Value` is ZRValue or const ZRValue. `enter` may change the value it is
// given, even turn it into an array (whose elements are then walked), but
// nothing may resize an array whose elements are still being walked.
template <class Value, class Enter, class Leave>
bool walkValue(Value& root, Enter&& enter, Leave&& leave)
{
    if (!enter(root, -1))
        return false;
    if (root.valueType() != ZRValue::Array)
        return true;
    struct Open {
        Value* array;
        std::size_t next;
    };
    std::vector<Open> open;
    open.push_back({&root, 0});
    while (!open.empty()) {
        Open& current = open.back();
        if (current.next == current.array->elements().size()) {
            Value& finished = *current.array;
            open.pop_back();
            leave(finished);
            continue;
        }
        const std::size_t index = current.next++;
        Value& element = walk::elementOf(*current.array, index);
        if (!enter(element, static_cast<int>(index)))
            return false;
        if (element.valueType() == ZRValue::Array)
            open.push_back({&element, 0});
    }
    return true;
}

// The same without a step after each array.
template <class Value, class Enter>
bool walkValue(Value& root, Enter&& enter)
{
    return walkValue(root, enter, [](Value&) {});
}

}  // namespace ZR

#pragma once
// Registers the event value types that cross from the worker thread, with their stream operators.
// Safe to call more than once.

void registerEventMetaTypes();

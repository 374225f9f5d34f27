#pragma once

// Allocations through operator new in the test binary that links
// allocation_counter.cpp (which replaces the global operator new/delete).
long allocation_count();

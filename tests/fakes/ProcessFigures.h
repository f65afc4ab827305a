#pragma once
// What this process costs: the figures the end-to-end tests, benchmarks and soak runs check.

namespace md {

// Processor time (user and system) this process has used so far, in seconds.
double CpuSeconds();
// This process's resident memory in MiB; 0 when /proc cannot tell.
double ResidentMiB();

} // namespace md

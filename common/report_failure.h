#pragma once

/// Prints the failure of a step of the run on standard error and answers
/// false, for `return ReportFailure(...)`. A failure that only gives way to an
/// interrupt request prints nothing: the program's entry says "Interrupted" in
/// a line of its own. Every step and callee that reports a failure of the run
/// goes through here.
bool ReportFailure(const char* format, ...) __attribute__((format(RSCDC_PRINTF_FORMAT, 1, 2)));

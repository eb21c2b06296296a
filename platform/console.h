#pragma once

#include <cstdarg>

/// Console text. Step messages and progress go to standard output, failures to
/// standard error. Writing to standard error first flushes standard output, so
/// the two keep their order when they share one terminal or file.
namespace platform {

void PrintOut(const char* format, ...) __attribute__((format(RSCDC_PRINTF_FORMAT, 1, 2)));
void PrintErr(const char* format, ...) __attribute__((format(RSCDC_PRINTF_FORMAT, 1, 2)));

/// The same with the arguments already gathered, for functions that print a
/// message of their own choosing (and declare their own format check).
void VPrintOut(const char* format, std::va_list args) __attribute__((format(RSCDC_PRINTF_FORMAT, 1, 0)));
void VPrintErr(const char* format, std::va_list args) __attribute__((format(RSCDC_PRINTF_FORMAT, 1, 0)));

/// Pushes buffered standard output to the console (before a child process
/// starts, and after a progress line that must be seen at once).
void FlushOut();

}  // namespace platform

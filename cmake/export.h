/// @file
/// Marks what libfazolt_api exports: the library is built with hidden
/// visibility, so a declaration without FAZOLT_API stays inside it.
#ifndef FAZOLT_EXPORT_H
#define FAZOLT_EXPORT_H

#if defined(__GNUC__)
#define FAZOLT_API __attribute__((visibility("default")))
#else
/// Marks a declaration that libfazolt_api exports.
#define FAZOLT_API
#endif

#endif

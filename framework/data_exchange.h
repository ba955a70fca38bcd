// The text forms of the data exchange: how numbers are shown in fields and read back.
#pragma once

#include "framework/cstring.h"

// "%.*g" with precision 15: at most 15 significant digits, no trailing zeros.
CString AfxFormatDouble(double value);
// "%ld": signed decimal.
CString AfxFormatInt(int value);

// Reads the first 399 characters as one number ("%lf"): leading blanks and a sign are allowed,
// and nothing but blanks may follow it. FALSE leaves value unchanged.
bool AfxParseDouble(const CString& text, double& value);
// Reads the first 63 characters as one signed decimal integer ("%ld") that fits in 32 bits, with
// the same rules for blanks. FALSE leaves value unchanged.
bool AfxParseInt(const CString& text, int& value);

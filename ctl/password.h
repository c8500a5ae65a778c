#pragma once

#include <QString>

namespace palisor::ctl {

// The console password from a file's first line, "-" meaning standard input;
// without a file, typed at the terminal with echo off (twice, to catch a
// typing error), else the first line of standard input.
QString ReadPassword(const QString& fileName);

}  // namespace palisor::ctl

#pragma once

// Where a benchmark that runs Palisor's programs finds them, the schema and
// the Firebird server: the environment when set (as for the tests), else
// the build the benchmark was compiled in.
#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace palisor::bench {

inline void SetDefault(const char* variable, const QByteArray& value)
{
    if (qEnvironmentVariableIsEmpty(variable))
        qputenv(variable, value);
}

// A program of the build folder named by PALISOR_BUILD_DIR.
inline QString Program(const char* name)
{
    return qEnvironmentVariable("PALISOR_BUILD_DIR") + QLatin1Char('/') + QLatin1String(name);
}

}  // namespace palisor::bench

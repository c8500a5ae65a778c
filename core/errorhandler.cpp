#include "core/errorhandler.h"

#include "core/dialogs.h"
#include "core/error.h"
#include "core/startup.h"

namespace palisor {
namespace {
ErrorHandler handler;
}  // namespace

void setApplicationErrorHandler(ErrorHandler h) { handler = std::move(h); }

void HandleApplicationError(const QString& message)
{
    if (handler)
        handler(message);
    else
        dialogs().error(QString::fromLatin1(ApplicationTitle), message);
}

void HandleApplicationError(const std::exception& error) { HandleApplicationError(messageOf(error)); }

}  // namespace palisor

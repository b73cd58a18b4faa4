// Qt's own messages routed to the program's error lines.
#include <QtGlobal>
#include <cstdlib>

#include "platform/host/install.h"
#include "platform/runtime.h"

namespace {

PFN_QT_FATAL g_pfnOnFatal = nullptr;

}  // namespace

void RouteQtMessages(PFN_QT_FATAL pfnOnFatal) {
  g_pfnOnFatal = pfnOnFatal;
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& s) {
    if (type == QtFatalMsg && g_pfnOnFatal) g_pfnOnFatal();
    ErrorPrintA("%s", qPrintable(qFormatLogMessage(type, context, s)));
    if (type == QtFatalMsg) std::abort();
  });
}

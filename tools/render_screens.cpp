// Draws every screen of the recovery program, and its failure box, through the program's own
// drawing code on the Qt host backend, offscreen, to PNG files of the device's display.
//
//   render_screens [OUTPUT_DIR [WxH...]]     (default docs/screens)
//   render_screens --help
//
// Each WxH adds the question and copying screens on a panel of that size, scaled to fit, as
// question-WxH.png and copying-WxH.png.
//
// The dialog is initialised as on the device (display turned, task bar hidden, controls laid
// out) against an empty configuration in a temporary device image; no file work runs.
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tools/screen_rig.h"
#include "ui/msg_box.h"

namespace {

bool Save(const QImage& image, const QString& strDir, const char* pszName) {
  const QString strFile = strDir + "/" + pszName + ".png";
  if (image.isNull() || !image.save(strFile, "PNG")) {
    std::fprintf(stderr, "render_screens: cannot write %s\n", qPrintable(strFile));
    return false;
  }
  std::printf("%s\n", qPrintable(strFile));
  return true;
}

}  // namespace

const char kUsage[] =
    "usage: render_screens [OUTPUT_DIR [WxH...]]\n"
    "Draws every screen of the recovery program and its failure box to PNG files in OUTPUT_DIR\n"
    "(default docs/screens), offscreen, at the device's display size, and prints each file.\n"
    "Each WxH adds the question and copying screens on a panel of that size, scaled to fit.\n";

int main(int argc, char** argv) {
  const std::string strArg = argc > 1 ? argv[1] : "";
  if (strArg == "--help" || strArg == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  auto unexpected = [](const char* psz) {
    std::fprintf(stderr, "render_screens: unexpected argument '%s'; try --help\n", psz);
    return 2;
  };
  // A folder named like an option is a mistake, not a place to write.
  if (strArg.starts_with('-')) return unexpected(argv[1]);
  std::vector<QSize> panels;
  for (int i = 2; i < argc; ++i) {
    const QStringList size = QString::fromLocal8Bit(argv[i]).split('x');
    panels.emplace_back(size.value(0).toInt(), size.value(1).toInt());
    if (size.size() != 2 || panels.back().isEmpty()) return unexpected(argv[i]);
  }
  ScreenRigApplication();
  const QString strOut = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("docs/screens");
  if (!QDir().mkpath(strOut)) {
    std::fprintf(stderr, "render_screens: cannot make %s\n", qPrintable(strOut));
    return 1;
  }
  QTemporaryDir image;
  if (!image.isValid()) return 1;
  std::ofstream(QDir(image.path()).filePath("Path.xml").toStdString())
      << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Recovery><Path Count=\"0\"/></Recovery>\n";

  CHostOptions options;
  options.strImageRoot = image.path().toStdString();
  options.strProgramPath = L"\\OrvaneRecovery.exe";
  options.fnRestart = [] { return FALSE; };  // pictures only: nothing restarts
  bool bOk = true;
  // The screens of rig, each named after it and strSuffix; bAll: every screen, else those a
  // panel's pictures show.
  const auto render = [&](CScreenRig& rig, bool bAll, const std::string& strSuffix) {
    for (const CScreenState& state : ScreenStates()) {
      if (!bAll && std::strcmp(state.pszName, "question") && std::strcmp(state.pszName, "copying"))
        continue;
      rig.SetState(state);
      rig.Repaint();
      const std::string name = state.pszName + strSuffix;
      bOk = Save(rig.Windows().RenderDisplay(), strOut, name.c_str()) && bOk;
    }
  };
  for (size_t i = 0; i < panels.size(); ++i) {
    CHostOptions panel = options;
    panel.nScreenWidth = panels[i].width();
    panel.nScreenHeight = panels[i].height();
    CScreenRig rig(panel, true);
    render(rig, false, std::string("-") + argv[i + 2]);
  }
  CScreenRig rig(options, true);
  render(rig, true, "");

  // The failure box over the copying screen it leaves behind, as a failed copy shows it.
  rig.SetState(ScreenStates()[2]);
  rig.Repaint();
  CMsgBox box(L"Recover failed(112)!Press OK to reboot.", L"Recover");
  QTimer::singleShot(0, [&] {
    // The box's first erase puts its caption and text in place.
    QCoreApplication::processEvents();
    ::UpdateWindow(box.m_hWnd);
    QCoreApplication::processEvents();
    bOk = Save(rig.Windows().RenderDisplay(), strOut, "failed") && bOk;
    box.EndDialog(IDOK);
  });
  box.DoModal();
  return bOk ? 0 : 1;
}

#include "platform/host/qt/fonts.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QResource>
#include <map>
#include <mutex>
#include <tuple>

namespace {

constexpr LONG kDefaultCellHeight = 16;

QString FaceOf(const LOGFONTW& lf) {
  int n = 0;
  while (n < LF_FACESIZE && lf.lfFaceName[n]) ++n;
  return QString::fromWCharArray(lf.lfFaceName, n);
}

int PixelSizeForCell(QFont font, int nCell) {
  int nPixels = nCell;
  for (; nPixels > 1; --nPixels) {
    font.setPixelSize(nPixels);
    if (QFontMetrics(font).height() <= nCell) break;
  }
  return nPixels;
}

// The faces that stand for the device's. "宋体" is a Song face whose Latin letters are half an em
// wide in a one-em cell: AR PL UMing (Debian's fonts-arphic-uming) has the same build, so the
// failure box's 20-point text takes four lines of its text control, as on the device; WenQuanYi
// Micro Hei's taller lines left the last one cut. Arial is Liberation Sans (fonts-liberation2),
// made to its metrics. The programs carry Liberation Sans (orvane_fonts) and read AR PL UMing
// from its package's file, whose licence asks for it to ship as that package ships it; a binary
// built without the faces, such as a test, finds the same families installed.
const char16_t kSongFace[] = u"AR PL UMing CN";
const char kSansFace[] = "Liberation Sans";
const char kEmbedded[] = ":/orvane/fonts/";

// Registers the embedded file; the first family it holds, or the installed family without it.
QString EmbeddedFamily(const char* pszFile, const QString& strInstalled) {
  QResource resource(QString::fromLatin1(kEmbedded) + QString::fromLatin1(pszFile));
  if (!resource.isValid()) return strInstalled;
  // Stored uncompressed, the data is the binary's own: Qt reads it in place, without a copy.
  QStringList families = QFontDatabase::applicationFontFamilies(
      QFontDatabase::addApplicationFontFromData(resource.uncompressedData()));
  return families.isEmpty() ? strInstalled : families.first();
}

}  // namespace

void RegisterDeviceFontSubstitutes() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Read by its path, so that no font configuration is needed to find it.
    const QStringList songs = QFontDatabase::applicationFontFamilies(
        QFontDatabase::addApplicationFont(QStringLiteral(ORVANE_FONT_SONG_FILE)));
    const QString kSong = songs.isEmpty() ? QString::fromUtf16(kSongFace) : songs.first();
    EmbeddedFamily("LiberationSans-Bold.ttf", QString());
    const QString kSans = EmbeddedFamily("LiberationSans-Regular.ttf", kSansFace);
    for (const char16_t* face : {u"宋体", u"新宋体", u"SimSun", u"NSimSun"})
      QFont::insertSubstitution(QString::fromUtf16(face), kSong);
    // Arial too, rather than through fontconfig's aliases, which a device may not have.
    for (const char* face :
         {"Arial", "MS Shell Dlg", "MS Shell Dlg 2", "System", "Tahoma", "MS Sans Serif"})
      QFont::insertSubstitution(QString::fromLatin1(face), kSans);
    // The rendering the system's fontconfig set chooses for these faces (slight hinting), fixed
    // here: every font resolves against this one, so no system setting changes a pixel.
    QFont font = QGuiApplication::font();
    font.setFamily(kSans);
    font.setHintingPreference(QFont::PreferVerticalHinting);
    QGuiApplication::setFont(font);
  });
}

QFont FontFromLogFont(const LOGFONTW& lf) {
  QString strFace = FaceOf(lf);
  if (strFace.isEmpty()) strFace = QStringLiteral("MS Shell Dlg");
  QFont font(strFace);
  LONG lWeight = lf.lfWeight <= 0 ? FW_NORMAL : (lf.lfWeight > 1000 ? 1000 : lf.lfWeight);
  font.setWeight(static_cast<QFont::Weight>(lWeight));
  font.setItalic(lf.lfItalic != 0);
  font.setUnderline(lf.lfUnderline != 0);
  font.setStrikeOut(lf.lfStrikeOut != 0);
  if (lf.lfHeight < 0) {
    font.setPixelSize(static_cast<int>(-lf.lfHeight));
    return font;
  }
  int nCell = lf.lfHeight == 0 ? kDefaultCellHeight : static_cast<int>(lf.lfHeight);
  // The search measures several sizes: remember the answer, every frame asks again.
  using CKey = std::tuple<QString, int, int, bool>;
  static std::mutex s_mutex;
  static std::map<CKey, int> s_sizes;
  CKey key{strFace, nCell, static_cast<int>(lWeight), lf.lfItalic != 0};
  std::unique_lock<std::mutex> lock(s_mutex);
  auto it = s_sizes.find(key);
  if (it == s_sizes.end()) {
    lock.unlock();
    int nPixels = PixelSizeForCell(font, nCell);
    lock.lock();
    it = s_sizes.emplace(key, nPixels).first;
  }
  font.setPixelSize(it->second);
  return font;
}

LOGFONTW MakeLogFont(LPCWSTR pszFace, LONG lHeight, LONG lWeight) {
  LOGFONTW lf{};
  lf.lfHeight = lHeight;
  lf.lfWeight = lWeight;
  for (int i = 0; pszFace && pszFace[i] && i < LF_FACESIZE - 1; ++i) lf.lfFaceName[i] = pszFace[i];
  return lf;
}

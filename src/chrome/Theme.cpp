#include "chrome/Theme.h"

namespace Quillmark {

namespace {

// Placeholders run from %1 to %14. Colours per role:
//  %1 window  %2 panels and bars  %3 popups  %4 controls  %5 hover
//  %6 selected/pressed  %7 border  %8 strong border  %9 text  %10 muted text
//  %11 handles and chunks  %12 accent  %13 danger  %14 disabled text
// The token {theme} names the theme ("light" or "dark") in the paths of the
// sheet's own images (combo-box arrows), which cannot be tinted at run time.
constexpr int placeholderCount = 14;

constexpr const char *lightColors[placeholderCount] = {
    "#eef1f5", "#f8f9fb", "#ffffff", "#edf0f4", "#e2e7ee", "#dbe9ff", "#c8d0db",
    "#9ba8b8", "#18202a", "#5c6673", "#9ba8b8", "#1f6feb", "#d12f2f", "#a0a8b4",
};

constexpr const char *darkColors[placeholderCount] = {
    "#202020", "#2b2b2b", "#303030", "#393939", "#484848", "#4a4a4a", "#111111",
    "#080808", "#eeeeee", "#c8c8c8", "#6a6a6a", "#5d9ccc", "#b32626", "#777777",
};

const char *const templateText = R"QSS(
QWidget { background-color: %1; color: %9; font-family: "Segoe UI", "Inter", sans-serif; font-size: 12px; selection-background-color: %6; selection-color: %9; }
QWidget:disabled { color: %14; }
QMainWindow { background-color: %1; }
QWidget#topBar { background: %2; border-bottom: 1px solid %8; }
QWidget#leftPane { background: %2; }
QWidget#centerPane { background: %1; }
QWidget#canvasTopBar, QWidget#scrubberBar { background: %2; border-bottom: 1px solid %7; }
QWidget#canvasTopBar .QWidget { background: transparent; }
QWidget#filmStrip { background: %2; border-top: 1px solid %7; }
QWidget#filmStrip QScrollArea, QWidget#filmStrip QScrollArea .QWidget { background: transparent; }
QLabel#filmThumb { background: %4; border: 2px solid transparent; border-radius: 3px; color: %10; }
QLabel#filmThumb:hover { background: %5; border: 2px solid %7; }
QLabel#filmThumb[active="true"] { background: %6; border: 2px solid %12; color: %9; }
QPushButton#filmNavBtn { background: transparent; border: none; border-radius: 0px; }
QPushButton#filmNavBtn:hover { background: %5; }
QPushButton#filmNavBtn:pressed { background: %6; }
QPushButton#filmNavBtn:disabled { opacity: 0.3; background: transparent; }
QWidget#toolBar { background: %2; border-bottom: 1px solid %7; }
QPushButton#toolBarBtn { background: transparent; border: none; border-radius: 4px; padding: 0px; min-width: 30px; min-height: 30px; max-width: 30px; max-height: 30px; }
QPushButton#toolBarBtn:hover { background-color: %5; border: 1px solid %7; }
QPushButton#toolBarBtn:pressed { background-color: %6; }
QPushButton#toolBarBtn:disabled { background: transparent; border: none; }
QWidget#sideToolBar { background: %2; border-right: 1px solid %7; }
QFrame#toolbarSeparator { color: %7; margin: 6px 2px; }
QLabel { background: transparent; color: %9; }
QLabel#mutedLabel { color: %10; }
QLabel#brandIcon { background: transparent; border: none; }
QPushButton { background-color: %4; border: 1px solid %7; border-radius: 4px; color: %9; padding: 5px 10px; }
QPushButton:hover { background-color: %5; }
QPushButton:pressed, QPushButton:checked { background-color: %6; border-color: %12; }
QPushButton:disabled { background-color: %2; border-color: %7; color: %14; }
QPushButton#windowButton, QPushButton#closeButton { background: transparent; border: 0; border-radius: 0; color: %9; font-size: 13px; font-weight: 700; padding: 0; }
QPushButton#windowButton:hover { background: %5; }
QPushButton#closeButton:hover { background: %13; color: #ffffff; }
QPushButton#sideToolBtn { background: transparent; border: none; border-radius: 5px; padding: 2px; min-width: 34px; min-height: 34px; max-width: 34px; max-height: 34px; }
QPushButton#sideToolBtn:hover, QPushButton#sideToolBtn:checked { background-color: %5; border: 1px solid %7; }
QPushButton#sideToolBtn:disabled { background: transparent; border: none; }
QPushButton#compactButton { padding: 2px 8px; font-size: 11px; }
QPushButton#compactButton:checked { background-color: %6; border-color: %12; color: %9; }
QPushButton#compactButton:!checked { color: %10; }
QPushButton#compactButton:disabled { background-color: %2; border-color: %7; color: %14; }
QListWidget, QListView#fileList { background-color: %2; alternate-background-color: %4; border: 1px solid transparent; outline: none; }
QTreeView, QTableView { background-color: %2; alternate-background-color: %4; border: 1px solid %7; outline: none; }
QListWidget::item, QListView#fileList::item { padding: 5px 7px; border-radius: 3px; color: %9; }
QListWidget::item:hover, QListView#fileList::item:hover { background-color: %5; }
QListWidget::item:selected, QListView#fileList::item:selected { background-color: %6; border: 1px solid %11; color: %9; }
QListWidget::item:disabled, QListView#fileList::item:disabled { color: %14; }
QListWidget::item:selected:disabled, QListView#fileList::item:selected:disabled { background-color: %4; border: 1px solid %7; color: %14; }
QComboBox, QLineEdit, QTextEdit { background-color: %4; border: 1px solid %7; border-radius: 4px; color: %9; padding: 4px 7px; }
QComboBox:disabled, QLineEdit:disabled, QTextEdit:disabled { background-color: %2; color: %14; }
QComboBox::drop-down { border: none; width: 18px; }
QComboBox::down-arrow { image: url(:/icons/combo-arrow-{theme}.svg); width: 8px; height: 8px; }
QComboBox::down-arrow:disabled { image: url(:/icons/combo-arrow-disabled-{theme}.svg); }
QComboBox QAbstractItemView { background-color: %3; border: 1px solid %7; color: %9; selection-background-color: %6; }
QCheckBox { background: transparent; color: %9; spacing: 6px; }
QCheckBox::indicator { width: 12px; height: 12px; background: %4; border: 1px solid %10; border-radius: 3px; }
QCheckBox::indicator:checked { background: %12; border-color: %12; image: url(:/icons/check-mark.svg); }
QCheckBox::indicator:disabled { background: %2; border-color: %14; }
QCheckBox::indicator:checked:disabled { background: %14; border-color: %14; }
QRadioButton { background: transparent; color: %9; spacing: 6px; }
QRadioButton::indicator { width: 12px; height: 12px; background: %4; border: 1px solid %10; border-radius: 7px; }
QRadioButton::indicator:checked { background: qradialgradient(cx: 0.5, cy: 0.5, radius: 0.5, fx: 0.5, fy: 0.5, stop: 0 #ffffff, stop: 0.35 #ffffff, stop: 0.45 %12, stop: 1 %12); border-color: %12; }
QRadioButton::indicator:disabled { background: %2; border-color: %14; }
QRadioButton::indicator:checked:disabled { background: qradialgradient(cx: 0.5, cy: 0.5, radius: 0.5, fx: 0.5, fy: 0.5, stop: 0 %2, stop: 0.35 %2, stop: 0.45 %14, stop: 1 %14); border-color: %14; }
QGroupBox { border: 1px solid %7; border-radius: 4px; margin-top: 9px; padding: 9px 7px 7px 7px; color: %9; font-weight: 700; }
QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 7px; padding: 0 4px; background: %2; }
QScrollBar:vertical { background: %4; width: 8px; }
QScrollBar::handle:vertical { background: %11; border-radius: 4px; min-height: 24px; }
QScrollBar:horizontal { background: %4; height: 8px; }
QScrollBar::handle:horizontal { background: %11; border-radius: 4px; min-width: 24px; }
QScrollBar::add-line, QScrollBar::sub-line, QScrollBar::add-page, QScrollBar::sub-page { background: transparent; width: 0; height: 0; }
QSplitter::handle { background-color: %7; }
QStatusBar { background-color: %2; border-top: 1px solid %7; color: %10; }
QStatusBar QProgressBar { background-color: %4; border: 1px solid %7; border-radius: 3px; color: %9; font-size: 11px; max-height: 16px; text-align: center; }
QStatusBar QProgressBar::chunk { background-color: %11; border-radius: 3px; }
QToolTip { background-color: %3; border: 1px solid %11; color: %9; padding: 5px 8px; }
/* Keyboard focus: the accent edge, never the faint dotted rectangle */
QPushButton:focus, QToolButton:focus { border: 1px solid %12; outline: none; }
QComboBox:focus, QLineEdit:focus, QTextEdit:focus { border: 1px solid %12; }
QCheckBox:focus, QRadioButton:focus { outline: none; }
QCheckBox::indicator:focus, QRadioButton::indicator:focus { border: 2px solid %12; }
QTabBar::tab:focus { color: %12; }
QListWidget:focus, QListView#fileList:focus, QTreeView:focus, QTableView:focus { border: 1px solid %12; }
/* Export dialog */
QToolButton#exportFormatCard { background: %4; border: 1px solid %7; border-radius: 5px; color: %10; font-size: 10px; padding: 2px; }
QToolButton#exportFormatCard:hover { background: %5; border-color: %8; color: %9; }
QToolButton#exportFormatCard:checked { background: %6; border: 2px solid %12; color: %9; }
QToolButton#exportFormatCard:focus { border: 2px solid %9; color: %9; outline: none; }
QLabel#exportSectionLabel { color: %10; font-size: 10px; font-weight: 700; letter-spacing: 1px; padding: 4px 0 2px 0; }
QLabel#exportFmtName { color: %9; font-size: 13px; font-weight: 700; }
QLabel#exportFmtDesc { color: %10; font-size: 12px; }
QPushButton#exportBtn { background-color: %12; border: 1px solid %12; color: #ffffff; font-weight: 600; padding: 5px 14px; }
QPushButton#exportBtn:hover { background-color: %12; border: 1px solid %8; color: #ffffff; }
QPushButton#exportBtn:pressed { background-color: %6; border: 1px solid %12; color: %9; }
QPushButton#exportBtn:disabled { background-color: %2; border: 1px solid %7; color: %14; }
/* Shortcuts dialog */
QLabel#shortcutTitle { background: %2; color: %9; font-size: 15px; font-weight: 600; padding: 14px 20px 12px 20px; border-bottom: 1px solid %7; }
QLabel#shortcutSection { color: %10; font-size: 10px; font-weight: 700; letter-spacing: 1px; padding: 8px 0 2px 0; }
QLabel#shortcutKey { background: %4; border: 1px solid %7; border-radius: 4px; color: %9; font-family: monospace; font-size: 11px; padding: 2px 7px; min-width: 70px; }
QLabel#shortcutDesc { color: %9; font-size: 12px; }
/* Tab widgets */
QTabWidget::pane { background: %1; border: 1px solid %7; border-top: none; }
QTabBar { background: transparent; }
QTabBar::tab { background: %4; color: %10; border: 1px solid %7; border-bottom: none; padding: 5px 16px; margin-right: 2px; border-top-left-radius: 4px; border-top-right-radius: 4px; font-weight: 600; font-size: 12px; }
QTabBar::tab:selected { background: %1; color: %9; border-bottom: 1px solid %1; }
QTabBar::tab:hover:!selected { background: %5; color: %9; }
)QSS";

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Replaces %1 .. %13 in one pass. A two-digit number is taken whole when it names
// a placeholder (%10 .. %13), so "%10" never reads as "%1" followed by "0".
QString substitute(const QString &text, const QStringList &values)
{
    QString out;
    out.reserve(text.size() + text.size() / 4);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != u'%' || i + 1 >= n || !isDigit(text.at(i + 1))) {
            out.append(c);
            continue;
        }
        int number = text.at(i + 1).digitValue();
        qsizetype length = 1;
        if (i + 2 < n && isDigit(text.at(i + 2))) {
            const int twoDigits = number * 10 + text.at(i + 2).digitValue();
            if (twoDigits >= 10 && twoDigits <= values.size()) {
                number = twoDigits;
                length = 2;
            }
        }
        if (number < 1 || number > values.size()) {
            out.append(c);
            continue;
        }
        out.append(values.at(number - 1));
        i += length;
    }
    return out;
}

} // namespace

QStringList Theme::colors(Mode mode)
{
    const char *const *table = mode == Light ? lightColors : darkColors;
    QStringList result;
    result.reserve(placeholderCount);
    for (int i = 0; i < placeholderCount; ++i)
        result.append(QString::fromLatin1(table[i]));
    return result;
}

QString Theme::styleSheetTemplate()
{
    return QString::fromUtf8(templateText).trimmed() + u'\n';
}

QString buildAppStyleSheet(Theme::Mode mode)
{
    const QString themeName = mode == Theme::Light ? QStringLiteral("light") : QStringLiteral("dark");
    return substitute(Theme::styleSheetTemplate(), Theme::colors(mode)).replace(QStringLiteral("{theme}"), themeName);
}

} // namespace Quillmark

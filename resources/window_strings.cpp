#include "resources/string_sources.h"
#include "resources/window_string_ids.h"

namespace velmora {

namespace {

// Menu accelerators follow each language's habit: in the text in French, in parentheses in Japanese.
constexpr CStringEntry WINDOW_STRINGS[] = {
    {IDS_MENU_SERVER, u"&Server", u"&Serveur", u"サーバー(&S)"},
    {IDS_MENU_SERVER_STARTING, u"Starting", u"Démarrage", u"開始中"},
    {IDS_MENU_SPOOLER_STOP, u"S&top", u"A&rrêter", u"停止(&T)"},
    {IDS_MENU_CONFIGURATION, u"&Configuration", u"Con&figuration", u"設定(&C)"},
    {IDS_MENU_PREFERENCES, u"Preferences", u"Préférences", u"基本設定"},
    {IDS_MENU_EXIT, u"&Exit", u"&Quitter", u"終了(&X)"},
    {IDS_MENU_SPOOLED_FILE, u"S&pooled file", u"&Fichier spoulé", u"スプール ファイル(&P)"},
    {IDS_MENU_JOB_RELEASE, u"&Release", u"&Libérer", u"保留解除(&R)"},
    {IDS_MENU_JOB_STOP, u"&Stop", u"Sus&pendre", u"保留(&S)"},
    {IDS_MENU_JOB_DELETE, u"&Delete", u"&Supprimer", u"削除(&D)"},
    {IDS_MENU_JOB_TRANSFER, u"&Transfer", u"&Transférer", u"転送(&T)"},
    {IDS_MENU_TOOLS, u"&Tools", u"&Outils", u"ツール(&T)"},
    {IDS_MENU_SEND_VIA_LPR, u"&Send via LPR", u"&Envoyer par LPR", u"LPR で送信(&S)"},
    {IDS_MENU_COPY_TO_PRINTER, u"&Copy to printer", u"&Copier vers une imprimante",
     u"プリンターにコピー(&C)"},
    {IDS_CONTEXT_JOB_STOP, u"S&top", u"Sus&pendre", u"保留(&T)"},
    {IDS_TRAY_START, u"&Start", u"&Démarrer", u"開始(&S)"},
    {IDS_TRAY_INTERFACE, u"&Interface", u"Afficher l'&interface", u"インターフェイス(&I)"},
    {IDS_TRAY_TOOLTIP, u"Velmora Virtual Printer", u"Imprimante virtuelle Velmora",
     u"Velmora 仮想プリンター"},
    {IDS_PROMPT_EXIT, u"Quit the application\nExit", u"Quitter l'application\nQuitter",
     u"アプリケーションを終了\n終了"},
    {IDS_PROMPT_INTERFACE, u"Show the main window", u"Afficher la fenêtre principale",
     u"メイン ウィンドウを表示"},
    {IDS_STATUS_IDLE, u"Ready", u"Prêt", u"レディ"},
    {IDS_INDICATOR_CAPS, u"CAP", u"MAJ", u"大文字"},
    {IDS_INDICATOR_NUM, u"NUM", u"VERR NUM", u"テンキー"},
    {IDS_INDICATOR_SCROLL, u"SCRL", u"DÉFIL", u"スクロール"},
    {IDS_TOOLBAR_TITLE, u"Toolbar", u"Barre d'outils", u"ツール バー"},
    {IDS_COLUMN_STATUS, u"Status", u"Statut", u"状態"},
    {IDS_COLUMN_FILE_NAME, u"File name", u"Nom du fichier", u"ファイル名"},
    {IDS_COLUMN_DATE, u"Date", u"Reçu le", u"日付"},
    {IDS_COLUMN_SIZE, u"Size", u"Taille", u"サイズ"},
    {IDS_COLUMN_OWNER, u"Owner", u"Propriétaire", u"所有者"},
    {IDS_COLUMN_TYPE, u"Type", u"Format", u"種類"},
    {IDS_COLUMN_PRINTER, u"Printer", u"Imprimante", u"プリンター"},
    {IDS_COLUMN_LOCAL_FILE_NAME, u"Local file name", u"Nom du fichier local", u"ローカル ファイル名"},
};

}  // namespace

std::span<const CStringEntry> WindowStrings() {
    return WINDOW_STRINGS;
}

}  // namespace velmora

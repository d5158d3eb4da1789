#include "resources/string_table.h"

#include <algorithm>
#include <array>

#include "resources/string_sources.h"

namespace velmora {
namespace {

// Kept sorted by id (checked at compile time below) so that a lookup is a binary search.
constexpr std::array STRINGS = {
    CStringEntry{IDS_PRINTER_NAME_BLANK, u"The printer name cannot be blank.",
                 u"Le nom de l'imprimante ne peut pas être vide.",
                 u"プリンター名を空欄にすることはできません。"},
    CStringEntry{IDS_PRINTER_EXISTS, u"The printer already exists.", u"Cette imprimante existe déjà.",
                 u"このプリンターは既に存在します。"},
    CStringEntry{IDS_RESTART_REQUIRED, u"The program must be restarted.",
                 u"Le programme doit être redémarré.", u"プログラムを再起動する必要があります。"},
    CStringEntry{IDS_BAD_LPD_PORT, u"LPD port cannot be empty or alpha. Default: 515",
                 u"Le port LPD ne peut être ni vide ni alphabétique. Par défaut : 515",
                 u"LPD ポートを空欄または英字にすることはできません。既定値: 515"},
    CStringEntry{IDS_PRINTER_NOT_FOUND, u"Printer not found.", u"Imprimante introuvable.",
                 u"プリンターが見つかりません。"},
    CStringEntry{IDS_STATE_READY, u"Ready", u"Prêt", u"準備完了"},
    CStringEntry{IDS_STATE_HELD, u"Held", u"Suspendu", u"保留中"},
    CStringEntry{IDS_STATE_SAVED, u"Saved", u"Enregistré", u"保存済み"},
    CStringEntry{IDS_STATE_PRINTING, u"Printing", u"Impression", u"印刷中"},
    CStringEntry{IDS_STATE_ERROR, u"Error", u"Erreur", u"エラー"},
    CStringEntry{IDS_START, u"Start", u"Démarrer", u"開始"},
    CStringEntry{IDS_STOP, u"Stop", u"Arrêter", u"停止"},
    CStringEntry{IDS_CONFIGURE, u"Configure", u"Configurer", u"設定"},
    CStringEntry{IDS_PARAM_LOCAL_FILE, u"Local file name", u"Nom du fichier local", u"ローカル ファイル名"},
    CStringEntry{IDS_PARAM_PRINTER_NAME, u"Printer name", u"Nom de l'imprimante", u"プリンター名"},
    CStringEntry{IDS_PARAM_DRIVER_NAME, u"Driver name", u"Nom du pilote", u"ドライバー名"},
    CStringEntry{IDS_PARAM_PORT_NAME, u"Port name", u"Nom du port", u"ポート名"},
    CStringEntry{IDS_PARAM_OWNER, u"Owner", u"Propriétaire", u"所有者"},
    CStringEntry{IDS_PARAM_FILE_TYPE, u"File type", u"Type de fichier", u"ファイルの種類"},
    CStringEntry{IDS_PARAM_DOCUMENT_NAME, u"Original document name (or title)",
                 u"Nom du document d'origine (ou titre)", u"元のドキュメント名 (またはタイトル)"},
    CStringEntry{IDS_PARAM_DATE_INSERTED, u"Date inserted", u"Date d'insertion", u"追加日時"},
    CStringEntry{IDS_PARAM_FILE_SIZE, u"File size", u"Taille du fichier", u"ファイル サイズ"},
    CStringEntry{IDS_PARAM_SOURCE_HOST, u"Source host", u"Hôte source", u"送信元ホスト"},
    CStringEntry{IDS_PARAM_JOB_NAME, u"Job name", u"Nom du travail", u"ジョブ名"},
    CStringEntry{IDS_PARAM_JOB_CLASS, u"Job class", u"Classe du travail", u"ジョブ クラス"},
    CStringEntry{IDS_PARAMETER_LIST, u"List of available parameters :", u"Liste des paramètres disponibles :",
                 u"使用できるパラメーターの一覧:"},
    CStringEntry{IDS_SPOOL_LIST_CORRUPTED, u"The spool.list file is corrupted, some data may have been lost.",
                 u"Le fichier spool.list est endommagé, certaines données ont pu être perdues.",
                 u"spool.list ファイルが破損しています。一部のデータが失われた可能性があります。"},
    CStringEntry{IDS_CMD_SERVER_STARTING, u"Start server", u"Démarrer le serveur", u"サーバーを開始"},
    CStringEntry{IDS_CMD_JOB_RELEASE, u"Release spooled file", u"Libérer le fichier spoulé",
                 u"スプール ファイルの保留を解除"},
    CStringEntry{IDS_CMD_JOB_STOP, u"Stop spooled file", u"Suspendre le fichier spoulé",
                 u"スプール ファイルを保留"},
    CStringEntry{IDS_CMD_JOB_DELETE, u"Delete spooled file", u"Supprimer le fichier spoulé",
                 u"スプール ファイルを削除"},
    CStringEntry{IDS_CMD_JOB_TRANSFER, u"Change printer", u"Changer d'imprimante", u"プリンターを変更"},
    CStringEntry{IDS_CMD_SPOOLER_START, u"Start spooler\nStart", u"Démarrer le spouleur\nDémarrer",
                 u"スプーラーを開始\n開始"},
    CStringEntry{IDS_CMD_SPOOLER_STOP, u"Stop spooler\nStop", u"Arrêter le spouleur\nArrêter",
                 u"スプーラーを停止\n停止"},
    CStringEntry{IDS_CMD_CONFIGURATION, u"Spooler configuration\nConfigure",
                 u"Configuration du spouleur\nConfigurer", u"スプーラーの設定\n設定"},
    CStringEntry{IDS_CMD_PREFERENCES, u"Program preferences", u"Préférences du programme",
                 u"プログラムの基本設定"},
    CStringEntry{IDS_CMD_SEND_VIA_LPR, u"Send spooled file via LPR", u"Envoyer le fichier spoulé par LPR",
                 u"スプール ファイルを LPR で送信"},
    CStringEntry{IDS_CMD_COPY_TO_PRINTER, u"Copy spooled file to Windows printer",
                 u"Copier le fichier spoulé vers une imprimante Windows",
                 u"スプール ファイルを Windows プリンターにコピー"},
    CStringEntry{IDS_BYTES, u"bytes", u"octets", u"バイト"},
    // The product name is the same in every language.
    CStringEntry{IDS_APP_TITLE, u"VelmoraVirtualPrinter", u"VelmoraVirtualPrinter", u"VelmoraVirtualPrinter"},
};

static_assert(std::adjacent_find(STRINGS.begin(), STRINGS.end(),
                                 [](const CStringEntry& a, const CStringEntry& b) { return a.Id >= b.Id; }) ==
                  STRINGS.end(),
              "string table ids must be strictly ascending");

thread_local Language tCurrentLanguage = Language::English;

// Every table in one list sorted by id, made once. A duplicate id stays in it, so that the ids listed
// by StringTableIds show it.
const std::vector<CStringEntry>& AllStrings() {
    static const std::vector<CStringEntry> all = [] {
        std::vector<CStringEntry> entries;
        for (const std::span<const CStringEntry> table : {CoreStrings(), WindowStrings(), DialogStrings(), AdminStrings()})
            entries.insert(entries.end(), table.begin(), table.end());
        std::stable_sort(entries.begin(), entries.end(),
                         [](const CStringEntry& a, const CStringEntry& b) { return a.Id < b.Id; });
        return entries;
    }();
    return all;
}

const CStringEntry* FindEntry(uint32_t id) {
    const std::vector<CStringEntry>& all = AllStrings();
    const auto it = std::lower_bound(all.begin(), all.end(), id,
                                     [](const CStringEntry& entry, uint32_t key) { return entry.Id < key; });
    if (it == all.end() || it->Id != id) {
        return nullptr;
    }
    return &*it;
}

const char16_t* TextIn(const CStringEntry& entry, Language language) {
    switch (language) {
        case Language::French:
            return entry.French;
        case Language::Japanese:
            return entry.Japanese;
        case Language::English:
            break;
    }
    return nullptr;
}

}  // namespace

void SetThreadLanguage(Language language) {
    tCurrentLanguage = language;
}

Language ThreadLanguage() {
    return tCurrentLanguage;
}

std::u16string LoadString(uint32_t id) {
    return LoadString(id, tCurrentLanguage);
}

std::u16string LoadString(uint32_t id, Language language) {
    const CStringEntry* entry = FindEntry(id);
    if (entry == nullptr) {
        return {};
    }
    const char16_t* text = TextIn(*entry, language);
    if (text == nullptr || *text == u'\0') {
        text = entry->English;
    }
    return text;
}

std::vector<uint32_t> StringTableIds() {
    std::vector<uint32_t> ids;
    for (const CStringEntry& entry : AllStrings()) {
        ids.push_back(entry.Id);
    }
    return ids;
}

std::span<const CStringEntry> CoreStrings() {
    return STRINGS;
}

}  // namespace velmora

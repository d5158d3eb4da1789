#include <array>

#include "resources/dialog_string_ids.h"
#include "resources/string_sources.h"

namespace velmora {

namespace {

constexpr std::array DIALOG_STRINGS = {
    // Server configuration.
    CStringEntry{IDS_DLG_SERVER_NEW, u"New", u"Nouveau", u"新規"},
    CStringEntry{IDS_DLG_SERVER_DELETE, u"Delete", u"Supprimer", u"削除"},
    CStringEntry{IDS_DLG_SERVER_LOCAL_MODE, u"Send to local printer", u"Envoyer vers l'imprimante locale",
                 u"ローカル プリンターに送信"},
    CStringEntry{IDS_DLG_SERVER_PROGRAM_MODE, u"Use a program to print to printer",
                 u"Utiliser un programme pour imprimer", u"プログラムを使用してプリンターに印刷"},
    CStringEntry{IDS_DLG_SERVER_HOLD_JOBS, u"Hold print jobs by default",
                 u"Suspendre les travaux d'impression par défaut", u"既定で印刷ジョブを保留する"},
    CStringEntry{IDS_DLG_SERVER_LPD_MODE, u"Use LPD protocol", u"Utiliser le protocole LPD",
                 u"LPD プロトコルを使用"},
    CStringEntry{IDS_DLG_SERVER_NAME_LABEL, u"Virtual printer name :", u"Nom de l'imprimante virtuelle :",
                 u"仮想プリンター名:"},
    CStringEntry{IDS_DLG_SERVER_LOCAL_PRINTER_LABEL, u"Local printer :", u"Imprimante locale :",
                 u"ローカル プリンター:"},
    CStringEntry{IDS_DLG_SERVER_INPUT_BIN_LABEL, u"Input bin :", u"Bac d'entrée :", u"給紙トレイ:"},
    CStringEntry{IDS_DLG_SERVER_OUTPUT_BIN_LABEL, u"Output bin :", u"Bac de sortie :", u"排紙トレイ:"},
    CStringEntry{IDS_DLG_SERVER_PROGRAM_PRINTER_LABEL, u"Local printer :", u"Imprimante locale :",
                 u"ローカル プリンター:"},
    CStringEntry{IDS_DLG_SERVER_PROGRAM_LABEL, u"Program :", u"Programme :", u"プログラム:"},
    CStringEntry{IDS_DLG_SERVER_IP_ADDRESS_LABEL, u"IP address :", u"Adresse IP :", u"IP アドレス:"},
    CStringEntry{IDS_DLG_SERVER_QUEUE_LABEL, u"Queue name :", u"Nom de la file :", u"キュー名:"},
    CStringEntry{IDS_DLG_SERVER_STATUS_PORT_LABEL, u"Status port :", u"Port d'état :", u"ステータス ポート:"},
    CStringEntry{IDS_DLG_SERVER_SETTINGS_GROUP, u"Local printer settings",
                 u"Paramètres de l'imprimante locale", u"ローカル プリンターの設定"},
    // A symbol, the same in every language.
    CStringEntry{IDS_DLG_SERVER_PARAMETERS, u"?", u"?", u"?"},
    CStringEntry{IDS_DLG_SERVER_SAVE, u"Save", u"Enregistrer", u"保存"},
    CStringEntry{IDS_DLG_SERVER_TITLE, u"Server configuration", u"Configuration du serveur",
                 u"サーバーの設定"},

    // Spooled file configuration (Transfer).
    CStringEntry{IDS_DLG_SPOOL_PRINTER_LABEL, u"Select printer :", u"Sélectionner l'imprimante :",
                 u"プリンターの選択:"},
    CStringEntry{IDS_DLG_SPOOL_INFORMATION_GROUP, u"Information", u"Informations", u"情報"},
    CStringEntry{IDS_DLG_SPOOL_TITLE, u"Spooled file configuration", u"Configuration du fichier spoulé",
                 u"スプール ファイルの設定"},

    // Printer configuration (name of a new virtual printer).
    CStringEntry{IDS_DLG_NEW_PRINTER_NAME_LABEL, u"Virtual printer name :",
                 u"Nom de l'imprimante virtuelle :", u"仮想プリンター名:"},
    CStringEntry{IDS_DLG_NEW_PRINTER_TITLE, u"Printer configuration", u"Configuration de l'imprimante",
                 u"プリンターの設定"},

    // Preferences.
    CStringEntry{IDS_DLG_PREF_AUTO_START, u"Start up automatically", u"Démarrer automatiquement",
                 u"自動的に開始する"},
    CStringEntry{IDS_DLG_PREF_AUTO_DELETE, u"Delete spooled files printed at startup",
                 u"Supprimer au démarrage les fichiers spoulés imprimés",
                 u"起動時に印刷済みのスプール ファイルを削除する"},
    CStringEntry{IDS_DLG_PREF_AUTO_HIDE, u"Minimize at startup", u"Réduire au démarrage",
                 u"起動時に最小化する"},
    CStringEntry{IDS_DLG_PREF_STRESS, u"Stress Mode : Delete spooled files upon reception",
                 u"Mode stress : supprimer les fichiers spoulés dès leur réception",
                 u"ストレス モード: 受信時にスプール ファイルを削除する"},
    CStringEntry{IDS_DLG_PREF_DISPLAY_LOG, u"Display", u"Afficher", u"表示"},
    CStringEntry{IDS_DLG_PREF_START_AS_SERVICE, u"Start as a service (restart required)",
                 u"Démarrer en tant que service (redémarrage nécessaire)",
                 u"サービスとして起動する (再起動が必要)"},
    CStringEntry{IDS_DLG_PREF_PORT_LABEL, u"LPD server port :", u"Port du serveur LPD :",
                 u"LPD サーバー ポート:"},
    CStringEntry{IDS_DLG_PREF_ALLOWED_LABEL, u"Clients allowed to print :", u"Clients autorisés à imprimer :",
                 u"印刷を許可するクライアント:"},
    CStringEntry{IDS_DLG_PREF_ALLOWED_HELP,
                 u"Addresses and networks separated by commas, for example 192.168.1.0/24, 10.0.0.5. "
                 u"Empty: every client.",
                 u"Adresses et réseaux séparés par des virgules, par exemple 192.168.1.0/24, 10.0.0.5. "
                 u"Vide : tous les clients.",
                 u"アドレスとネットワークをコンマで区切って指定します (例: 192.168.1.0/24, 10.0.0.5)。"
                 u"空欄: すべてのクライアント。"},
    CStringEntry{IDS_DLG_PREF_ALLOWED_BAD, u"Not an address or a network: %s",
                 u"Ni une adresse ni un réseau : %s", u"アドレスでもネットワークでもありません: %s"},
    CStringEntry{IDS_DLG_PREF_LOG_NORMAL, u"Normal", u"Standard", u"標準"},
    CStringEntry{IDS_DLG_PREF_LOG_DETAILED, u"Detailed", u"Détaillé", u"詳細"},
    CStringEntry{IDS_DLG_PREF_DELETE_SPOOL, u"Delete spooled files after reception",
                 u"Supprimer les fichiers spoulés après réception", u"受信後にスプール ファイルを削除する"},
    CStringEntry{IDS_DLG_PREF_TIMEOUT_LABEL, u"Waiting time (s) : ", u"Délai d'attente (s) : ",
                 u"待機時間 (秒): "},
    CStringEntry{IDS_DLG_PREF_STARTUP_GROUP, u"Startup settings", u"Paramètres de démarrage",
                 u"起動時の設定"},
    CStringEntry{IDS_DLG_PREF_LOG_GROUP, u"Log", u"Journal", u"ログ"},
    CStringEntry{IDS_DLG_PREF_SERVER_GROUP, u"LPD server settings", u"Paramètres du serveur LPD",
                 u"LPD サーバーの設定"},
    CStringEntry{IDS_DLG_PREF_TITLE, u"Preferences", u"Préférences", u"基本設定"},

    // Copy to printer.
    CStringEntry{IDS_DLG_COPY_PRINTER_LABEL, u"Select printer :", u"Sélectionner l'imprimante :",
                 u"プリンターの選択:"},
    CStringEntry{IDS_DLG_COPY_TITLE, u"Copy print data stream to Windows printer",
                 u"Copier le flux d'impression vers une imprimante Windows",
                 u"印刷データ ストリームを Windows プリンターにコピー"},

    // Send via LPR.
    CStringEntry{IDS_DLG_LPR_DESTINATION_GROUP, u"Destination printer", u"Imprimante de destination",
                 u"送信先プリンター"},
    CStringEntry{IDS_DLG_LPR_IP_ADDRESS_LABEL, u"IP address :", u"Adresse IP :", u"IP アドレス:"},
    CStringEntry{IDS_DLG_LPR_QUEUE_LABEL, u"Queue name :", u"Nom de la file :", u"キュー名:"},
    CStringEntry{IDS_DLG_LPR_TITLE, u"Copy selected file via LPR", u"Copier le fichier sélectionné par LPR",
                 u"選択したファイルを LPR でコピー"},

    // Messages.
    CStringEntry{
        IDS_DLG_VALUE_NOT_STORABLE,
        u"\"%s\" cannot contain \";\", a carriage return or a line feed: Printer.cfg could not store "
        u"it. The previous value is kept.",
        u"« %s » ne peut contenir ni « ; », ni retour chariot, ni saut de ligne : Printer.cfg ne "
        u"pourrait pas l'enregistrer. La valeur précédente est conservée.",
        u"「%s」には「;」、復帰、改行を含めることはできません。Printer.cfg に保存できないためです。"
        u"以前の値がそのまま使用されます。"},
    CStringEntry{
        IDS_DLG_NAME_NOT_STORABLE,
        u"A virtual printer name cannot contain \";\", a carriage return or a line feed: Printer.cfg "
        u"could not store it.",
        u"Le nom d'une imprimante virtuelle ne peut contenir ni « ; », ni retour chariot, ni saut de "
        u"ligne : Printer.cfg ne pourrait pas l'enregistrer.",
        u"仮想プリンター名には「;」、復帰、改行を含めることはできません。Printer.cfg に保存できないため"
        u"です。"},
    CStringEntry{IDS_DLG_EDITOR_FAILED, u"CreateProcess failed : %s", u"Échec de CreateProcess : %s",
                 u"CreateProcess に失敗しました: %s"},

    // Shared.
    CStringEntry{IDS_DLG_OPEN_FILE_TITLE, u"Open", u"Ouvrir", u"開く"},
    // "OK" is the button's text in every one of the three languages.
    CStringEntry{IDS_DLG_OK, u"OK", u"OK", u"OK"},
    CStringEntry{IDS_DLG_CANCEL, u"Cancel", u"Annuler", u"キャンセル"},
};

}  // namespace

std::span<const CStringEntry> DialogStrings() {
    return DIALOG_STRINGS;
}

}  // namespace velmora

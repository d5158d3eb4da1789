#include <array>

#include "resources/admin_string_ids.h"
#include "resources/string_sources.h"

namespace velmora {

namespace {

constexpr std::array ADMIN_STRINGS = {
    CStringEntry{
        IDS_ADMIN_USAGE,
        u"Usage: velmora-admin COMMAND [ARGUMENTS]\n"
        u"Administers the virtual printers, settings and jobs of Velmora Virtual Printer.\n"
        u"\n"
        u"  printers [--machine]             list the virtual printers\n"
        u"  add-printer NAME [--FIELD=VALUE]...\n"
        u"                                   add a virtual printer\n"
        u"  change-printer NAME --FIELD=VALUE...\n"
        u"                                   change fields of a virtual printer\n"
        u"  remove-printer NAME              remove a virtual printer\n"
        u"  settings                         show every key of [Settings]\n"
        u"  set KEY=VALUE...                 change keys of [Settings]\n"
        u"  jobs [--machine]                 list the jobs\n"
        u"  hold JOB..., release JOB..., delete JOB...\n"
        u"                                   the main window's job commands\n"
        u"  transfer JOB PRINTER             move a job to another virtual printer\n"
        u"\n"
        u"Fields: name, route (raw, program or lpd), hold (0 or 1), local-printer, program,\n"
        u"program-printer, host, queue, input-bin, output-bin, status-port.\n"
        u"--machine lists one printer a line, its fields in that order separated by tabs;\n"
        u"for jobs: job, state (ready, held, saved, printing, error), printer, document,\n"
        u"owner, size, date, error.\n"
        u"\n"
        u"Exit status: 0 done, 1 a name or value refused, 2 a mistake in the command line,\n"
        u"3 not allowed, 4 the files could not be changed.\n",
        u"Usage : velmora-admin COMMANDE [ARGUMENTS]\n"
        u"Administre les imprimantes virtuelles, les paramètres et les travaux de Velmora Virtual Printer.\n"
        u"\n"
        u"  printers [--machine]             liste les imprimantes virtuelles\n"
        u"  add-printer NOM [--CHAMP=VALEUR]...\n"
        u"                                   ajoute une imprimante virtuelle\n"
        u"  change-printer NOM --CHAMP=VALEUR...\n"
        u"                                   change des champs d'une imprimante virtuelle\n"
        u"  remove-printer NOM               supprime une imprimante virtuelle\n"
        u"  settings                         affiche chaque clé de [Settings]\n"
        u"  set CLÉ=VALEUR...                change des clés de [Settings]\n"
        u"  jobs [--machine]                 liste les travaux\n"
        u"  hold TRAVAIL..., release TRAVAIL..., delete TRAVAIL...\n"
        u"                                   les commandes de la fenêtre principale\n"
        u"  transfer TRAVAIL IMPRIMANTE      déplace un travail vers une autre imprimante virtuelle\n"
        u"\n"
        u"Champs : name, route (raw, program ou lpd), hold (0 ou 1), local-printer, program,\n"
        u"program-printer, host, queue, input-bin, output-bin, status-port.\n"
        u"--machine liste une imprimante par ligne, ses champs dans cet ordre séparés par des tabulations ;\n"
        u"pour les travaux : travail, état (ready, held, saved, printing, error), imprimante, document,\n"
        u"propriétaire, taille, date, erreur.\n"
        u"\n"
        u"Code de sortie : 0 fait, 1 un nom ou une valeur refusé, 2 une erreur dans la ligne de commande,\n"
        u"3 non autorisé, 4 les fichiers n'ont pas pu être modifiés.\n",
        u"使用法: velmora-admin コマンド [引数]\n"
        u"Velmora Virtual Printer の仮想プリンター、設定、ジョブを管理します。\n"
        u"\n"
        u"  printers [--machine]             仮想プリンターの一覧を表示する\n"
        u"  add-printer 名前 [--フィールド=値]...\n"
        u"                                   仮想プリンターを追加する\n"
        u"  change-printer 名前 --フィールド=値...\n"
        u"                                   仮想プリンターのフィールドを変更する\n"
        u"  remove-printer 名前              仮想プリンターを削除する\n"
        u"  settings                         [Settings] のすべてのキーを表示する\n"
        u"  set キー=値...                   [Settings] のキーを変更する\n"
        u"  jobs [--machine]                 ジョブの一覧を表示する\n"
        u"  hold ジョブ..., release ジョブ..., delete ジョブ...\n"
        u"                                   メイン ウィンドウのジョブ コマンド\n"
        u"  transfer ジョブ プリンター       ジョブを別の仮想プリンターに移す\n"
        u"\n"
        u"フィールド: name、route (raw、program、lpd)、hold (0 または 1)、local-printer、program、\n"
        u"program-printer、host、queue、input-bin、output-bin、status-port。\n"
        u"--machine は 1 行に 1 台のプリンターを、この順のフィールドをタブで区切って表示します。\n"
        u"ジョブの場合: ジョブ、状態 (ready、held、saved、printing、error)、プリンター、ドキュメント、\n"
        u"所有者、サイズ、日付、エラー。\n"
        u"\n"
        u"終了ステータス: 0 完了、1 名前または値を拒否、2 コマンド ラインの誤り、\n"
        u"3 許可されていない、4 ファイルを変更できなかった。\n"},
    CStringEntry{IDS_ADMIN_TRY_HELP, u"Try 'velmora-admin --help'.", u"Essayez « velmora-admin --help ».",
                 u"'velmora-admin --help' を試してください。"},
    CStringEntry{IDS_ADMIN_UNKNOWN_COMMAND, u"Unknown command: %s", u"Commande inconnue : %s",
                 u"不明なコマンド: %s"},
    CStringEntry{IDS_ADMIN_UNKNOWN_OPTION, u"Unknown option: %s", u"Option inconnue : %s",
                 u"不明なオプション: %s"},
    CStringEntry{IDS_ADMIN_MISSING_ARGUMENT, u"An argument is missing.", u"Il manque un argument.",
                 u"引数が足りません。"},
    CStringEntry{IDS_ADMIN_NO_PRINTER, u"No virtual printer is named %s.",
                 u"Aucune imprimante virtuelle ne s'appelle %s.",
                 u"%s という名前の仮想プリンターはありません。"},
    CStringEntry{IDS_ADMIN_NOT_STORABLE, u"%s cannot hold \";\", CR or LF.",
                 u"%s ne peut contenir ni « ; », ni CR, ni LF.",
                 u"%s には \";\"、CR、LF を含めることはできません。"},
    CStringEntry{IDS_ADMIN_BAD_VALUE, u"%s is not a valid value for %s.",
                 u"%s n'est pas une valeur valide pour %s.", u"%s は %s の有効な値ではありません。"},
    CStringEntry{IDS_ADMIN_UNKNOWN_SETTING, u"Unknown setting: %s", u"Paramètre inconnu : %s",
                 u"不明な設定: %s"},
    CStringEntry{IDS_ADMIN_NOT_ALLOWED,
                 u"Only root and members of the group lpadmin may administer the server.",
                 u"Seuls root et les membres du groupe lpadmin peuvent administrer le serveur.",
                 u"サーバーを管理できるのは root と lpadmin グループのメンバーだけです。"},
    CStringEntry{IDS_ADMIN_SERVER_RUNNING,
                 u"The server is running: stop or pause it before changing its files.",
                 u"Le serveur est en marche : arrêtez-le ou suspendez-le avant de modifier ses fichiers.",
                 u"サーバーが実行中です。ファイルを変更する前に停止または一時停止してください。"},
    CStringEntry{IDS_ADMIN_UNWRITABLE, u"Unable to write %s.", u"Impossible d'écrire %s.",
                 u"%s に書き込めません。"},
    CStringEntry{IDS_ADMIN_NO_ANSWER, u"The running server did not answer.",
                 u"Le serveur en marche n'a pas répondu.", u"実行中のサーバーが応答しませんでした。"},
    CStringEntry{IDS_ADMIN_NO_JOB, u"No job is named %s.", u"Aucun travail ne s'appelle %s.",
                 u"%s という名前のジョブはありません。"},
    CStringEntry{IDS_ADMIN_JOB_STATE, u"Job %s cannot take this command in the state %s.",
                 u"Le travail %s ne peut pas recevoir cette commande dans l'état %s.",
                 u"ジョブ %s は状態 %s ではこのコマンドを受け付けません。"},
    CStringEntry{IDS_ADMIN_COLUMN_NAME, u"NAME", u"NOM", u"名前"},
    CStringEntry{IDS_ADMIN_COLUMN_ROUTE, u"ROUTE", u"VOIE", u"経路"},
    CStringEntry{IDS_ADMIN_COLUMN_HOLD, u"HOLD", u"SUSPENDRE", u"保留"},
    CStringEntry{IDS_ADMIN_COLUMN_DESTINATION, u"DESTINATION", u"ENVOI VERS", u"送り先"},
    CStringEntry{IDS_ADMIN_YES, u"yes", u"oui", u"はい"},
    CStringEntry{IDS_ADMIN_NO, u"no", u"non", u"いいえ"},
    CStringEntry{IDS_ADMIN_FORWARD_TO, u"%s, queue %s", u"%s, file %s", u"%s、キュー %s"},
    CStringEntry{IDS_ADMIN_PROGRAM_PRINTER, u"printer %s", u"imprimante %s", u"プリンター %s"},
    CStringEntry{IDS_ADMIN_NO_LOCAL_PRINTER, u"(no printer)", u"(aucune imprimante)", u"(プリンターなし)"},
    CStringEntry{IDS_ADMIN_COLUMN_JOB, u"JOB", u"TRAVAIL", u"ジョブ"},
    CStringEntry{IDS_ADMIN_COLUMN_STATE, u"STATE", u"ÉTAT", u"状態"},
    CStringEntry{IDS_ADMIN_COLUMN_PRINTER, u"PRINTER", u"IMPRIMANTE", u"プリンター"},
    CStringEntry{IDS_ADMIN_COLUMN_DOCUMENT, u"DOCUMENT", u"NOM DU DOCUMENT", u"ドキュメント"},
    CStringEntry{IDS_ADMIN_COLUMN_OWNER, u"OWNER", u"PROPRIÉTAIRE", u"所有者"},
    CStringEntry{IDS_ADMIN_COLUMN_SIZE, u"SIZE", u"TAILLE", u"サイズ"},
    CStringEntry{IDS_ADMIN_COLUMN_DATE, u"DATE", u"DATE D'ARRIVÉE", u"日付"},
    CStringEntry{IDS_ADMIN_COLUMN_ERROR, u"ERROR", u"ERREUR", u"エラー"},
};

}  // namespace

std::span<const CStringEntry> AdminStrings() {
    return ADMIN_STRINGS;
}

}  // namespace velmora

// The constants of this update build. A new update for the same game changes
// updateNumber and the payload files; another game changes the names too.
#include "core/update_build.h"

namespace {
const PayloadEntry kPayloadTable[] = {
    {"LMH.exe"},
    {"dll\\RESOURCE.dll"},
    {nullptr},
};
}  // namespace

const UpdateBuild kUpdateBuild = {
    "KESTRIN",
    "Lantern Moonharbor",
    "LMH",
    "%s - Update Program",
    "1",
    kPayloadTable,
    "",
    "「%s」のインストール先の検出に失敗しました。",
    "「%s」のプログラムのアップデートを行います。\nアップデートを行う前に本体プログラムの終了を確認して下さい。",
    "インストール先のデータが破損している可能性があります。\n再度ゲームをインストールし直してからアップデートを行って下さい。",
    "アップデートする必要がありませんでしたが、\n引き続きアップデートを行いますか？",
    "アップデートが終了しました。",
    "アップデートが中止されました。",
    "アップデート情報の更新に失敗しました。",
};

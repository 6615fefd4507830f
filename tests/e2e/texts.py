"""What UpDate.exe shows, as the user reads it (compared as code page 932)."""

CAPTION = "Lantern Moonharbor - Update Program"
# A failure with one file names the file in front of the caption.
FILE_CAPTION = "{file} - " + CAPTION + " -"
INSTALL_NOT_FOUND = "「Lantern Moonharbor」のインストール先の検出に失敗しました。"
CONFIRM_UPDATE = ("「Lantern Moonharbor」のプログラムのアップデートを行います。\n"
                  "アップデートを行う前に本体プログラムの終了を確認して下さい。")
ALREADY_UPDATED = "アップデートする必要がありませんでしたが、\n引き続きアップデートを行いますか？"
UPDATE_FINISHED = "アップデートが終了しました。"
UPDATE_ABORTED = "アップデートが中止されました。"
WRITE_CREATE_FAILED = "アップデートに失敗しました。[0x000A0003]"
WRITE_NOT_LOADED = "アップデートに失敗しました。[0x000A0002]"
PROGRESS_STATUS = "アップデートを行っています。"
UPDATE_FILE_DAMAGED = ("アップデートファイルが破損しています。\n"
                       "お手数ですが、アップデートファイルを再度ダウンロードして下さい。")

MB_OK = 0x0
MB_OKCANCEL = 0x1
MB_YESNO = 0x4
MB_ICONQUESTION = 0x20
MB_ICONWARNING = 0x30

BUTTON_OK = 1
BUTTON_CANCEL = 2
BUTTON_YES = 6
BUTTON_NO = 7
INSTALL_DATA_BROKEN = ("インストール先のデータが破損している可能性があります。\n"
                       "再度ゲームをインストールし直してからアップデートを行って下さい。")
BAD_INSTALL_PATH = "インストール先に問題があります。\n {folder}"
DISK_FULL = "インストール先の容量が足りません。\n確認して下さい。 \n{folder} \n[{free} / {total}] \n必要容量 : {needed}"

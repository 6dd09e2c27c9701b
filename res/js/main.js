/*
 * The page itself: tabs, pop-up boxes, the start-up sequence and the
 * first-start wizard, the key tab with its certificate information and PIN
 * change, the settings tab, closing, the links tab and the update check.
 * Runs in Internet Explorer's engine on Windows: ES3 only.
 */

/* 1: a check may start by itself; 0 while the first-start wizard is pending
   or after "其他用户". */
var WhetherFirst = 1;
/* 1: closing a pop-up with its close picture starts a check. */
var xD = 1;
/* A key was in when the page loaded. */
var bStartWithKey = false;
/* An update of the assistant is downloading. */
var g_bUpdating = false;
/* get_config has not answered yet. */
var g_bFetchingConfig = false;
/* The page number the program was started with. */
var pageMode = 0;

/* Where "上一步" of the key-type chooser goes back to. */
var g_popBack = "guide1";

/* A certificate this close to its end asks to be renewed. */
var kRenewSeconds = 7776000;

/* ---- Tabs and pop-ups ----------------------------------------------------- */

/* Draws every tab button normal and the one at index selected, and shows
   the panel at the same position. */
function showTab(index) {
    var buttons = $("#nav .navbtn");
    buttons.css("background-position", "0 0");
    buttons.eq(index).css("background-position", "0 100%");
    $(".sli").hide().eq(index).show();
}

/* The select boxes are windowed controls in old IE and would show through
   the pop-ups, so they are hidden while a pop-up is up. */
function showSelectBoxes(show) {
    $("select").css("visibility", show ? "visible" : "hidden");
}

function showPop(id) {
    $(".pop").hide();
    showSelectBoxes(false);
    $("#mask").show();
    $("#" + id).show();
}

function hidePops() {
    $(".pop").hide();
    $("#mask").hide();
    showSelectBoxes(true);
}

/* Opens the answer of one help question and closes the others. */
function showAnswer(item) {
    $("#list li").removeClass("open");
    $(item).addClass("open");
}

function clearPinFields() {
    $("#edit1, #edit2, #edit3").val("");
}

/* The close picture of any pop-up. */
function closePops() {
    clearPinFields();
    hidePops();
    if (xD == 1) {
        if (WhetherFirst == 1) {
            xD = 0;
            do_check_all();
        } else {
            do_check_other();
        }
    }
}

/* ---- Settings ------------------------------------------------------------ */

function selectOption(selectId, value) {
    $("#" + selectId).val(String(value));
}

function isFirstStart() {
    var first = load_setting("IsFirstTime", 2);
    return !(first === false || first == 0);
}

/* The settings every first start writes. */
function saveFirstStartSettings() {
    save_setting("IsFirstTime", false);
    save_setting("Schose", 0);
    save_setting("Ccloses", "1");
    save_setting("Uchose", 1);
    selectOption("startchose", 0);
}

function startChoiceChanged() {
    var choice = parseInt($("#startchose").val(), 10) || 0;
    save_setting("Schose", choice);
    callc("Tray", choice);
}

/* ---- Start-up ------------------------------------------------------------- */

function firstStartSetUp() {
    WhetherFirst = 0;
    showPop("guide1");
    saveFirstStartSettings();
    startChoiceChanged();
}

function configAnswered(loaded, Ccloses, Uchose) {
    g_bFetchingConfig = false;
    if (!loaded) {
        set_net(false);
        msgbox("网络异常，请联网后启用助手！");
        shut_down();
        return;
    }
    set_info("获取配置成功，请开始检测");
    var keyIn = checkKeyInsert();
    if (Uchose == 1) {
        check_update(true);
    }
    if (!keyIn) {
        if (isFirstStart()) {
            firstStartSetUp();
        } else {
            WhetherFirst = 1;
        }
    } else if (isFirstStart()) {
        WhetherFirst = 0;
        saveFirstStartSettings();
    } else {
        WhetherFirst = 1;
    }
    if (WhetherFirst == 1 && (pageMode == 0 || pageMode == 1)) {
        do_check_all();
    }
    if (String(Ccloses) == "0") {
        selectOption("closechose", 0);
    }
}

function pageLoad() {
    var Ccloses = load_setting("Ccloses", "1");
    var Uchose = load_setting("Uchose", 1);
    var Schose = load_setting("Schose", 0);
    var mode = callc("get_command");
    pageMode = typeof mode == "number" ? mode : 0;
    bStartWithKey = checkKeyInsert();

    selectOption("startchose", Schose == 1 ? 1 : 0);
    selectOption("closechose", String(Ccloses) == "1" ? 1 : 0);
    selectOption("updatechose", Uchose == 1 ? 1 : 0);

    set_info("正在获取配置，请稍候");
    g_bFetchingConfig = true;
    asyncallc(function (loaded) { configAnswered(loaded, Ccloses, Uchose); }, "get_config");
}

/* ---- Wizard -------------------------------------------------------------- */

function markSavedKeyType() {
    var radios = { FT_1: "Radio1", FT_2: "Radio2", ukey_HT: "Radio3", ukey_JS: "Radio4" };
    var saved = load_setting("KeyType", key);
    if (radios.hasOwnProperty(saved)) {
        $("#" + radios[saved]).prop("checked", true);
    }
}

function finishWizard() {
    var chosen = $("input[name='radio_key_type']:checked").val();
    var known = null;
    var i;
    for (i = 0; i < check_pass.keyTypes.length; i++) {
        if (check_pass.keyTypes[i].radio == chosen) {
            known = check_pass.keyTypes[i];
        }
    }
    if (!known) {
        msgbox("请选择您的KEY类型");
        showPop("guide2");
        return;
    }
    var entry = item_info[known.entry];
    select_key_entry(known.type);
    key = entry && entry.type ? entry.type : known.type;
    save_setting("KeyType", known.type);
    $("#item_3 .span1").text(item_text(entry, "name"));
    $("#item_3 .span2").text("未检测");
    other = 1;
    WhetherFirst = 1;
    save_setting("other", 1);
    showTab(0);
    do_check_all();
    hidePops();
}

/* ---- Key tab ------------------------------------------------------------- */

function selectedKeyItem() {
    var i;
    for (i = 0; i < item_info.length; i++) {
        if (is_key_item(item_info[i]) && item_info[i].selected) {
            return item_info[i];
        }
    }
    return null;
}

/* The key status text of the program, read as data. */
function parseKeyStatus(text) {
    if (typeof text != "string") {
        return null;
    }
    try {
        return $.secureEvalJSON(text);
    } catch (e) {
        return null;
    }
}

function parseDate(text) {
    var date = new Date(String(text));
    return isNaN(date.getTime()) ? null : date;
}

function showCertDate(value) {
    var row = $("#cert_outDate");
    var from = value && value[0] ? parseDate(value[0].date1) : null;
    var until = value && value[1] ? parseDate(value[1].date2) : null;
    if (!value || !until) {
        set_row_state(row, "已过期", false);
        return;
    }
    var now = new Date();
    var left = (until.getTime() - now.getTime()) / 1000;
    if (left < 0) {
        set_row_state(row, "已过期", false);
    } else if (left > kRenewSeconds) {
        var started = !from || now.getTime() >= from.getTime();
        set_row_state(row, started ? "未过期" : "已过期", started);
    } else {
        var end = String(value[1].date2);
        set_row_state(row, "即将过期!请更新 " + end.substring(0, end.length - 3), false);
    }
}

function checkKeyInfo() {
    var item = selectedKeyItem();
    if (!item) {
        return;
    }
    key = item_text(item, "type");
    var known = key_type(key);
    $("#keyinfo").text(known ? known.name : item_text(item, "name"));
    if (!is_number(item.status, 0)) {
        return;
    }
    var status = parseKeyStatus(callc("update_key_info", key));
    if (!status || status.plugged != "true" || !status.details || !status.details.length) {
        return;
    }
    var i;
    for (i = 0; i < status.details.length; i++) {
        var detail = status.details[i];
        if (!detail || detail.key === undefined || detail.value === undefined) {
            continue;
        }
        if (detail.key == "证书是否注册：") {
            var registered = detail.value == "是";
            set_row_state($("#user_cert"), registered ? "已注册" : "未注册", registered);
            set_row_state($("#roos"), registered ? "完整" : "不完整", registered);
        } else if (detail.key == "Key是否锁定：") {
            var locked = detail.value == "是";
            set_row_state($("#key_locked"), locked ? "已锁定" : "未锁定", !locked);
        } else if (detail.key == "CertDate") {
            showCertDate(detail.value);
        } else if (detail.key == "manage_tool") {
            var running = detail.value == "true";
            set_row_state($("#management_tool"), running ? "已启动" : "未启动", running);
        }
    }
}

function changePin() {
    var item = selectedKeyItem();
    if (load_setting("UserType", 0) == 1) {
        msgbox("您已选择其他用户，无需证书管理！");
    } else if (!bKeyInserted) {
        msgbox("您没有插入Key，无法修改Pin码！");
    } else if (!item || !is_number(item.status, 0)) {
        msgbox("您没有安装key驱动，无法修改Pin码！");
    } else {
        showPop("change1");
    }
}

function confirmPin() {
    var oldPin = $("#edit1").val();
    var newPin = $("#edit2").val();
    var confirmation = $("#edit3").val();
    var valid = /^[A-Za-z0-9]{6,10}$/;
    if (!valid.test(oldPin) || !valid.test(newPin)) {
        msgbox("请输入6-10位数字或字母");
        clearPinFields();
        return;
    }
    if (confirmation != newPin) {
        msgbox("确认密码与新密码输入不一致，请重新输入");
        clearPinFields();
        return;
    }
    asyncallc(function (answer) {
        if (is_number(answer, 1)) {
            msgbox("修改PIN码成功！");
            clearPinFields();
            hidePops();
        } else {
            msgbox("密码输入错误，请重新输入");
            clearPinFields();
        }
    }, "change_pin", key, oldPin, newPin);
}

/* ---- Update -------------------------------------------------------------- */

function dateText(date) {
    return date.getFullYear() + "-" + (date.getMonth() + 1) + "-" + date.getDate();
}

function check_update(silence) {
    if (g_bUpdating) {
        return;
    }
    asyncalld(function () {
        save_setting("LastTimeUpdate", dateText(new Date()));
    }, "check_update", silence ? 1 : 0);
}

/* ---- Wiring ---------------------------------------------------------------- */

$(function () {
    $("#nav .navbtn").each(function (index) {
        $(this).click(function () {
            if (index == 1 && bKeyInserted) {
                checkKeyInfo();
            }
            if (index == 3) {
                hidePops();
            }
            showTab(index);
            return false;
        });
    });

    $("#stp").click(function () {
        xD = 1;
        showPop("guide1");
        return false;
    });
    $("#abt").click(function () {
        xD = 0;
        showPop("about");
        return false;
    });
    $(".cloce").click(function () {
        closePops();
        return false;
    });
    $("#usbbtn").click(function () {
        g_popBack = "guide1";
        markSavedKeyType();
        showPop("usertype");
        return false;
    });
    $("#usbbtn2").click(function () {
        g_popBack = "guide2";
        showPop("usertype");
        return false;
    });
    $("#otherbtn, #otherbtn2").click(function () {
        hidePops();
        do_check_other();
        return false;
    });
    $("#prevstep").click(function () {
        showPop(g_popBack);
        return false;
    });
    $("#finish").click(function () {
        finishWizard();
        return false;
    });

    $("#check").click(function () {
        do_check_all();
        return false;
    });
    $("#fixall").click(function () {
        do_fix_all();
        return false;
    });
    $("#item_update_time").click(function () {
        syncTime(1);
        return false;
    });
    $("#clean_cache").click(function () {
        fix();
        return false;
    });
    $("#clean_ssl").click(function () {
        fix1();
        return false;
    });

    $("#changepin").click(function () {
        changePin();
        return false;
    });
    $("#pinok").click(function () {
        confirmPin();
        return false;
    });
    $("#pinback").click(function () {
        clearPinFields();
        hidePops();
        return false;
    });

    $("#startchose").change(startChoiceChanged);
    $("#closechose").change(function () {
        save_setting("Ccloses", String($(this).val()));
    });
    $("#updatechose").change(function () {
        save_setting("Uchose", parseInt($(this).val(), 10) || 0);
    });

    $("#ui_quit").click(function () {
        shut_down();
        return false;
    });
    $("#ui_min").click(function () {
        callc("minimize_window");
        return false;
    });

    $(".hlink").click(function () {
        open_ie($(this).attr("data-url"), true);
        return false;
    });
    $("#checkupdate").click(function () {
        check_update(false);
        return false;
    });

    $("#list h4").click(function () {
        showAnswer($(this).parent());
        return false;
    });

    /* Links inside the page never navigate the dialog. */
    $("a[href='#']").click(function (e) {
        e.preventDefault();
    });

    pageLoad();
});

/*
 * The page's side of the host bridge and the check tab: the calls into the
 * program through window.external, the functions that the program calls by
 * name, the check pass, the repairs and the installs.
 * Runs in Internet Explorer's engine on Windows: ES3 only.
 */

/* The check pass as data: the built-in checks in pass order with their
   texts, the texts of the item states and the key types. The build puts
   res/check_pass.json here; the program's headless report follows the same
   file, so the pass is described once. */
var check_pass = /*@CHECK_PASS@*/ { checks: [], itemStates: [], keyTypes: [] };

/* ---- Calls into the program ------------------------------------------- */

/* Every call is guarded: a page shown without the program, or a program
   that lacks a command, answers undefined and the page carries on. */
function callc(name, a1, a2, a3, a4) {
    try {
        return window.external.callc(name, a1, a2, a3, a4);
    } catch (e) {
        return undefined;
    }
}

/* The asynchronous forms; when the call cannot be made at all, the callback
   still gets its undefined answer, so a pass never waits forever. */
function host_async(method, callback, name, a1, a2, a3, a4) {
    try {
        window.external[method](callback, name, a1, a2, a3, a4);
        return;
    } catch (e) {
    }
    if (typeof callback == "function") {
        window.setTimeout(function () { callback(undefined); }, 0);
    }
}

function asyncallc(callback, name, a1, a2, a3, a4) {
    host_async("asyncallc", callback, name, a1, a2, a3, a4);
}

function asyncalld(callback, name, a1, a2, a3, a4) {
    host_async("asyncalld", callback, name, a1, a2, a3, a4);
}

function log(text) {
    callc("log", text, undefined, undefined, undefined);
}

function msgbox(text) {
    callc("messagebox", text, undefined, undefined, undefined);
}

/* A setting, or the default when the program gives nothing back. */
function load_setting(key, def) {
    var value = callc("load_settings", key, def, undefined, undefined);
    return value === undefined || value === null ? def : value;
}

function save_setting(key, value) {
    callc("save_settings", key, value, undefined, undefined);
}

function get_data(name) {
    var value = callc("get_data", name, undefined, undefined, undefined);
    return typeof value == "string" ? value : "";
}

/* With translate set, address is the name of an address of the
   configuration. */
function open_ie(address, translate) {
    if (translate) {
        address = get_data(address);
    }
    if (address) {
        callc("open_ie", address, undefined, undefined, undefined);
    }
}

function is_config_loaded() {
    return callc("is_config_loaded", undefined, undefined, undefined, undefined) ? true : false;
}

/* The close button: hand over to the tray helper, or quit. */
function shut_down() {
    if (String(load_setting("Ccloses", "")) == "1") {
        callc("shut_downmini", parseInt($("#closechose").val(), 10) || 0, undefined, undefined, undefined);
    } else {
        callc("shut_down", undefined, undefined, undefined, undefined);
    }
}

function is_number(value, expected) {
    return typeof value == "number" && value == expected;
}

/* ---- Page state --------------------------------------------------------- */

var check_info = [];
var item_info = [];
var checking = false;
var step = 0;
var g_bChecked = false;
var other = 0;
var key = "";
var bKeyInserted = false;
var installLock = [];

/* Item numbers come from the program; anything else is not an item. */
var kMaxItems = 1000;

(function () {
    var i;
    for (i = 0; i < check_pass.checks.length; i++) {
        var c = check_pass.checks[i];
        check_info.push({ type: c.type, name: c.name, passText: c.passText, failText: c.failText,
                          button: c.button, repairable: c.repairable, inRepairPass: c.inRepairPass,
                          status: false });
    }
})();

function find_check(type) {
    var i;
    for (i = 0; i < check_info.length; i++) {
        if (check_info[i].type == type) {
            return check_info[i];
        }
    }
    return null;
}

function key_type(type) {
    var i;
    for (i = 0; i < check_pass.keyTypes.length; i++) {
        if (check_pass.keyTypes[i].type == type) {
            return check_pass.keyTypes[i];
        }
    }
    return null;
}

function is_key_item(item) {
    return item && item.cls == "key";
}

function item_text(item, name) {
    return item && typeof item[name] == "string" ? item[name] : "";
}

/* ---- What a person sees ------------------------------------------------- */

function set_info(text) {
    $("#info").text(text);
}

function set_bar(picture) {
    $("#bar").attr("src", "images/" + picture);
}

function set_row_state(row, text, passed) {
    row.find(".span2, .span5").first().text(text);
    row.removeClass(passed ? "wrong" : "right").addClass(passed ? "right" : "wrong");
}

function set_net(online) {
    $("#net").removeClass(online ? "noWeb" : "isWeb").addClass(online ? "isWeb" : "noWeb")
        .text(online ? "已联网" : "未联网");
}

function show_key_row() {
    if (other == 1) {
        $("#item_3").show();
    } else {
        $("#item_3").hide();
    }
}

/* A row's repair or install button, added once. */
function add_row_button(row, id, label, onclick) {
    if (row.find(".span3").length) {
        return;
    }
    /* unselectable: old IE's way of not selecting the label on a double click */
    var button = $("<span class=\"span3\" unselectable=\"on\"></span>");
    button.attr("id", id).text(label).click(function () {
        onclick();
        return false;
    });
    row.append(button);
}

function set_progress_width(progress) {
    $(".loading-son").css("width", Math.round(progress * 278 / 100) + "px");
}

/* ---- Functions the program calls --------------------------------------- */

function setHtmlItemText(id, text) {
    log("setHtmlItemText id= " + id + " content: " + text);
    var element = document.getElementById(String(id));
    if (element) {
        $(element).text(text === undefined || text === null ? "" : String(text));
    }
}

function setItemInfo(index, name, value) {
    index = Number(index);
    if (index != Math.floor(index) || index < 0 || index >= kMaxItems || typeof name != "string") {
        return;
    }
    if (!item_info[index]) {
        item_info[index] = { status: 2, selected: index < 2 };
    }
    item_info[index][name] = value;
}

function setProgress(status, progress, index) {
    progress = Number(progress);
    if (!(progress >= 0)) {
        progress = 0;
    }
    if (progress > 100) {
        progress = 100;
    }
    if (index === undefined || index === null) {
        set_progress_width(progress);
    } else if (index < 0) {
        set_progress_width(progress);
        $("#status_check").text(progress == 100 ? "文件下载完成" : "正在更新助手");
    } else if (status) {
        set_progress_width(progress);
        $("#status_check").text(progress == 100 ? "下载完成" : "正在下载文件");
    } else {
        set_progress_width(100);
        $("#status_check").text("下载失败");
    }
}

/* ---- The check pass ----------------------------------------------------- */

function do_check_all() {
    if (is_number(callc("get_internet_state"), 0)) {
        set_net(false);
        msgbox("网络异常，请联网后启用助手！");
        shut_down();
        return;
    }
    set_net(true);
    if (checking || !is_config_loaded()) {
        return;
    }
    checking = true;
    set_info("正在检测");
    set_bar("a140821-12.gif");
    setProgress(true, 0);
    other = load_setting("other", 0) == 1 ? 1 : 0;
    show_key_row();
    checkieversion("item_ieversion");
    checksystem("item_sysversion");
    syncTime(1);
    callc("check_dll");
    step = 0;
    schedule_step();
}

/* The users without a key: the configured items end at the first key
   driver. */
function do_check_other() {
    other = 0;
    WhetherFirst = 0;
    save_setting("other", 0);
    showTab(0);
    var i;
    for (i = 0; i < item_info.length; i++) {
        if (is_key_item(item_info[i])) {
            item_info[i].selected = false;
        }
    }
    do_check_all();
}

var STEP_ISSUED = 1, STEP_SKIPPED = 2, STEP_END = 3;

function schedule_step() {
    window.setTimeout(function () {
        var result = run_step(step);
        while (result == STEP_SKIPPED) {
            step++;
            result = run_step(step);
        }
        if (result == STEP_ISSUED) {
            step++;
            setProgress(true, 100 * step / (check_info.length + item_info.length));
        }
    }, 100);
}

function end_pass(text) {
    g_bChecked = true;
    set_info(text);
    set_bar("a140821-49.gif");
    checking = false;
}

function check_item(j) {
    set_info("    " + "    正在检测 " + item_text(item_info[j], "name"));
    asyncallc(function (answer) { item_result(j, answer); }, "do_check", j);
    return STEP_ISSUED;
}

function run_step(i) {
    if (i < check_info.length) {
        var check = check_info[i];
        set_info("    正在检测 " + check.name);
        asyncallc(function (answer) { check_result(answer, check.type, check.repairable); }, "do_check", check.type);
        return STEP_ISSUED;
    }
    var j = i - check_info.length;
    if (j >= item_info.length) {
        end_pass("检测完成");
        return STEP_END;
    }
    var item = item_info[j];
    if (!item) {
        return STEP_SKIPPED;
    }
    if (!is_key_item(item)) {
        return check_item(j);
    }
    if (other != 1) {
        end_pass("    " + "    检测完成");
        return STEP_END;
    }
    if (item.selected) {
        return check_item(j);
    }
    if (!bKeyInserted && load_setting("KeyType", key) == item.type) {
        item.selected = true;
        $("#item_3 .span1").text(item_text(item, "name"));
        return check_item(j);
    }
    return STEP_SKIPPED;
}

function check_result(answer, type, repairable) {
    check_result_ex(answer, type, repairable);
    schedule_step();
}

function check_result_ex(answer, type, repairable) {
    var passed = answer ? true : false;
    var check = find_check(type);
    if (!check) {
        return;
    }
    check.status = passed;
    if (type == "connection") {
        callc("get_public_ip");
        set_net(passed);
    }
    if (type == "cfca") {
        var root = $("#root_cert");
        set_row_state(root, passed ? (bKeyInserted ? "已注册" : "未检测") : "未注册", passed);
    }
    var row = $("#item_" + type);
    if (passed) {
        set_row_state(row, check.passText, true);
        row.find(".span3").remove();
    } else {
        set_row_state(row, check.failText, false);
        if (repairable) {
            add_row_button(row, "fix_" + type, check.button, function () { do_fix(type); });
        }
    }
}

function item_state(status) {
    var state = typeof status == "number" ? check_pass.itemStates[status] : null;
    return state || { text: "", button: "" };
}

function item_result(index, status) {
    item_result_ex(index, status);
    schedule_step();
}

function item_result_ex(index, status) {
    var item = item_info[index];
    if (!item) {
        return;
    }
    item.status = status;
    var rowNumber = index;
    if (is_key_item(item)) {
        if (!item.selected) {
            return;
        }
        rowNumber = 3;
    }
    var row = $("#item_" + rowNumber);
    var state = item_state(status);
    if (is_number(status, 0)) {
        set_row_state(row, state.text, true);
        row.find(".span3").remove();
    } else {
        set_row_state(row, state.text, false);
        add_row_button(row, "install_" + rowNumber, state.button, function () { do_install(index); });
    }
}

/* ---- Repairs and installs ----------------------------------------------- */

function do_fix(type) {
    callc("do_fix", type);
    var answer = callc("do_check", type);
    if (type == "iecache" || type == "sslcache") {
        return;
    }
    check_result_ex(answer, type, true);
}

function fix() {
    do_fix("iecache");
}

function fix1() {
    do_fix("sslcache");
}

function do_fix_all() {
    if (!g_bChecked) {
        msgbox("请您先进行检测");
        return;
    }
    if (checking) {
        return;
    }
    show_key_row();
    checkieversion("item_ieversion");
    checksystem("item_sysversion");
    callc("reset_ie_security_level");
    var i;
    for (i = 0; i < check_info.length; i++) {
        if (!check_info[i].status && check_info[i].inRepairPass) {
            do_fix(check_info[i].type);
        }
    }
    do_install_all();
    /* Answered after everything the installs queued. */
    asyncallc(function () {
        set_info("修复完成");
        set_bar("a140821-49.gif");
    });
}

function index_in(list, value) {
    var i;
    for (i = 0; i < list.length; i++) {
        if (list[i] === value) {
            return i;
        }
    }
    return -1;
}

function do_install(index) {
    if (index_in(installLock, index) >= 0) {
        return;
    }
    installLock.push(index);
    set_info("正在安装  " + item_text(item_info[index], "name"));
    set_bar("a140821-12.gif");
    asyncallc(null, "do_install", index);
    asyncallc(function (answer) {
        set_bar("a140821-49.gif");
        item_result_ex(index, answer);
        set_info(is_number(answer, 0) ? "安装成功" : "安装失败");
        var at = index_in(installLock, index);
        if (at >= 0) {
            installLock.splice(at, 1);
        }
    }, "do_check", index);
}

function do_install_all() {
    var i;
    for (i = 0; i < item_info.length; i++) {
        var item = item_info[i];
        if (!item) {
            continue;
        }
        if (!is_key_item(item)) {
            if (!is_number(item.status, 0)) {
                do_install(i);
            }
        } else if (item.selected) {
            callc("start_manager_tool", item.type);
            if (!is_number(item.status, 0)) {
                do_install(i);
            }
        }
    }
}

/* ---- Versions and the clock --------------------------------------------- */

function set_row_text(id, text) {
    $("#" + id + " .span2").text(text);
}

function checkieversion(id) {
    var answer = callc("get_version", "ieversion", "无");
    answer = typeof answer == "string" ? answer : "";
    var major = parseInt(answer, 10);
    var text;
    if (major >= 4 && major <= 11) {
        text = "IE " + major;
    } else {
        text = answer.replace(/^\d*\D?/, "");
    }
    set_row_text(id, text);
}

function checksystem(id) {
    var answer = callc("get_version", "sysversion", "无");
    answer = typeof answer == "string" ? answer : "";
    var names = [
        ["Windows 10", "Windows 10"], ["Windows 8.1", "Windows 8.1"], ["Windows 8", "Windows 8"],
        ["Windows 7", "Windows 7"], ["Windows Vista", "Windows Vista"], ["Windows Server 2008", "Windows 2008"],
        ["Windows Server 2003", "Windows 2003"], ["Windows XP", "Windows XP"], ["Windows 2000", "Windows 2000"]
    ];
    var label = "Unkonw";
    var i;
    for (i = 0; i < names.length; i++) {
        if (answer.indexOf(names[i][0]) >= 0) {
            label = names[i][1];
            break;
        }
    }
    set_row_text(id, label);
}

function syncTime(isSync) {
    var row = $("li.item_update_time");
    if (isSync) {
        set_row_state(row, "正在同步", true);
    }
    asyncalld(function (answer) {
        if (is_number(answer, 0)) {
            set_row_state(row, "同步成功", true);
        } else {
            set_row_state(row, "同步出错", false);
        }
    }, "sync_time", "");
}

/* ---- Keys the program reports -------------------------------------------- */

/* Selects the driver entry of one key type and unselects the other two. */
function select_key_entry(type) {
    var i;
    for (i = 0; i < check_pass.keyTypes.length; i++) {
        var entry = item_info[check_pass.keyTypes[i].entry];
        if (entry) {
            entry.selected = check_pass.keyTypes[i].type == type;
        }
    }
}

function reset_key_rows(ids) {
    var i;
    for (i = 0; i < ids.length; i++) {
        set_row_state($("#" + ids[i]), "未检测", true);
    }
}

/* Asks for every key driver whether its key is in, and selects the items of
   the keys that are. */
function checkKeyInsert() {
    var any = false;
    var i;
    for (i = 0; i < item_info.length; i++) {
        var item = item_info[i];
        if (!is_key_item(item)) {
            continue;
        }
        if (callc("is_specific_key_insert", item_text(item, "keyid")) === true) {
            item.selected = true;
            any = true;
        } else {
            item.selected = false;
        }
    }
    if (any) {
        bKeyInserted = true;
    }
    return any;
}

function onKeyPlugged(type) {
    if (!is_config_loaded()) {
        return;
    }
    var mode = callc("get_command");
    reset_key_rows(["user_cert", "root_cert", "cert_outDate", "key_locked", "management_tool"]);
    var known = key_type(type);
    if (known) {
        key = type;
        $("#keyinfo").text(known.name);
        select_key_entry(type);
        save_setting("KeyType", type);
        $("#item_3 .span1").text(item_text(item_info[known.entry], "name"));
        save_setting("UserType", 0);
        save_setting("other", 1);
        other = 1;
        WhetherFirst = 1;
        if (type == "FT_1") {
            $("#Radio1").attr("checked", true);
        }
        /* The program announces a key that is already in while it hands
           over the configuration: that key was in at load, and the page's
           start-up decides whether a check runs. */
        if (g_bFetchingConfig) {
            bStartWithKey = true;
        }
        if (type == "FT_1" && mode > 1 && bStartWithKey) {
            bStartWithKey = false;
        } else if (!g_bFetchingConfig) {
            if (type == "FT_1") {
                showTab(0);
            }
            do_check_all();
        }
    }
    bKeyInserted = true;
    $("#stp").hide();
}

function onKeyUnplugged() {
    bKeyInserted = false;
    key = "";
    var i;
    for (i = 0; i < check_pass.keyTypes.length; i++) {
        if (item_info[check_pass.keyTypes[i].entry]) {
            item_info[check_pass.keyTypes[i].entry].selected = false;
        }
    }
    $("#keyinfo").text("未插入key");
    $("#stp").show();
    reset_key_rows(["roos", "user_cert", "cert_outDate", "key_locked", "management_tool", "root_cert"]);
}

function onUpdateConfirmed() {
    set_bar("a140821-12.gif");
    set_info("正在下载网银助手");
    g_bUpdating = true;
}

/*
 * The page's side of the host bridge: the calls into the program through
 * window.external and the functions that the program calls by name.
 * Runs in Internet Explorer's engine on Windows: ES3 only.
 */

/* Diagnostic output through the program; a page shown outside the program
   has no external object, so a failing call is ignored. */
function log(text) {
    try {
        window.external.callc("log", text, undefined, undefined, undefined);
    } catch (e) {
    }
}

/* The functions below are called by the program. */

function setHtmlItemText(id, text) {
    log("setHtmlItemText id= " + id + " content: " + text);
}

function setItemInfo(index, name, value) {
    log("setItemInfo index= " + index + " name: " + name + " value: " + value);
}

function setProgress(status, progress, index) {
    log("setProgress status= " + status + " progress: " + progress + " index: " + index);
}

function onKeyPlugged(type) {
    log("onKeyPlugged type= " + type);
}

function onKeyUnplugged() {
    log("onKeyUnplugged");
}

function onUpdateConfirmed() {
    log("onUpdateConfirmed");
}

/*
 * The page itself: tab switching, the pop-up boxes and the help list.
 * Runs in Internet Explorer's engine on Windows: ES3 only.
 */

/* Where "上一步" of the key-type chooser goes back to. */
var g_popBack = "guide1";

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

$(function () {
    $("#nav .navbtn").each(function (index) {
        $(this).click(function () {
            if (index == 3) {
                hidePops();
            }
            showTab(index);
            return false;
        });
    });

    $("#stp").click(function () {
        showPop("guide1");
        return false;
    });
    $("#abt").click(function () {
        showPop("about");
        return false;
    });
    $(".cloce").click(function () {
        hidePops();
        return false;
    });
    $("#usbbtn").click(function () {
        g_popBack = "guide1";
        showPop("usertype");
        return false;
    });
    $("#usbbtn2").click(function () {
        g_popBack = "guide2";
        showPop("usertype");
        return false;
    });
    $("#prevstep").click(function () {
        showPop(g_popBack);
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
});

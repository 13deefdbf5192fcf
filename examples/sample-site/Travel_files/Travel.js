// Sets the page's script-driven picture once the page has loaded.
function pageLoaded() {
    document.getElementById('scripted').src = "Travel_files\/divider.gif";
}
window.addEventListener('load', pageLoaded);

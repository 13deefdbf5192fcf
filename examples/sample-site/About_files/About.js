// Sets the page's script-driven picture once the page has loaded.
function pageLoaded() {
    document.getElementById('scripted').src = "About_files\/banner.png";
}
window.addEventListener('load', pageLoaded);

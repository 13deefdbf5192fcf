// Sets the page's script-driven picture once the page has loaded.
function pageLoaded() {
    document.getElementById('scripted').src = "Contact_files\/banner.png";
}
window.addEventListener('load', pageLoaded);

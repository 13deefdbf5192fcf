// Sets the page's script-driven picture once the page has loaded.
function pageLoaded() {
    document.getElementById('scripted').src = "Entry1_files\/shapeimage_1.png";
}
window.addEventListener('load', pageLoaded);

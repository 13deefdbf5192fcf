<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>tolvane::MainWindow</name>
    <message>
        <source>Tolvane</source>
        <translation>Tolvane</translation>
    </message>
    <message>
        <source>Open Website...</source>
        <translation>Website öffnen …</translation>
    </message>
    <message>
        <source>Optimize...</source>
        <translation>Optimieren …</translation>
    </message>
    <message>
        <source>Open the root folder of an exported website to find its duplicate images.</source>
        <translation>Öffnen Sie den Stammordner einer exportierten Website, um ihre doppelten Bilder zu finden.</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
    <message>
        <source>Copies of the selected image</source>
        <translation>Kopien des ausgewählten Bildes</translation>
    </message>
    <message>
        <source>Duplicate images</source>
        <translation>Doppelte Bilder</translation>
    </message>
    <message>
        <source>The actions of an optimization are listed here.</source>
        <translation>Hier werden die Schritte einer Optimierung aufgeführt.</translation>
    </message>
    <message>
        <source>Action log</source>
        <translation>Protokoll</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Open Website...</source>
        <translation>Website ö&amp;ffnen …</translation>
    </message>
    <message>
        <source>O&amp;ptimize...</source>
        <translation>&amp;Optimieren …</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;Undo Last Optimization</source>
        <translation>Letzte Optimierung &amp;rückgängig machen</translation>
    </message>
</context>
<context>
    <name>tolvane::TolvaneAppDelegate</name>
    <message>
        <source>Tolvane can close when the optimization has finished.</source>
        <translation>Tolvane kann erst geschlossen werden, wenn die Optimierung abgeschlossen ist.</translation>
    </message>
    <message>
        <source>Scanning %1...</source>
        <translation>%1 wird durchsucht …</translation>
    </message>
    <message>
        <source>Finding the references to the copies...</source>
        <translation>Die Verweise auf die Kopien werden gesucht …</translation>
    </message>
    <message>
        <source>Comparing: %1 of %2 read</source>
        <translation>Vergleich: %1 von %2 gelesen</translation>
    </message>
    <message>
        <source>Scanning: %1 entries walked</source>
        <translation>Durchsuchen: %1 Einträge durchlaufen</translation>
    </message>
    <message>
        <source>%1 - Tolvane</source>
        <translation>%1 – Tolvane</translation>
    </message>
    <message>
        <source>There are no images to optimize!</source>
        <translation>Es gibt keine Bilder zu optimieren!</translation>
    </message>
    <message>
        <source>Your website contains no duplicate images that need optimizing.</source>
        <translation>Ihre Website enthält keine doppelten Bilder, die optimiert werden müssten.</translation>
    </message>
    <message>
        <source>Image</source>
        <translation>Bild</translation>
    </message>
    <message>
        <source>Copies</source>
        <translation>Kopien</translation>
    </message>
    <message>
        <source>References</source>
        <translation>Verweise</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Saving</source>
        <translation>Ersparnis</translation>
    </message>
    <message>
        <source>References in the site&apos;s pages, scripts, stylesheets and feeds that point at the copies</source>
        <translation>Verweise in den Seiten, Skripten, Stylesheets und Feeds der Website, die auf die Kopien zeigen</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopie</translation>
    </message>
    <message>
        <source>After optimizing</source>
        <translation>Nach der Optimierung</translation>
    </message>
    <message>
        <source> (and %1 more)</source>
        <translation> (und %1 weitere)</translation>
    </message>
    <message>
        <source>Stays: %1</source>
        <translation>Bleibt: %1</translation>
    </message>
    <message>
        <source>Stays: no copy of this image can go</source>
        <translation>Bleibt: keine Kopie dieses Bildes kann entfernt werden</translation>
    </message>
    <message>
        <source>Kept in images/</source>
        <translation>Bleibt in images/</translation>
    </message>
    <message>
        <source>Deleted</source>
        <translation>Gelöscht</translation>
    </message>
    <message>
        <source>Select an image to see it here.</source>
        <translation>Wählen Sie ein Bild aus, um es hier zu sehen.</translation>
    </message>
    <message>
        <source>No preview for this image.</source>
        <translation>Keine Vorschau für dieses Bild.</translation>
    </message>
    <message>
        <source>, %1 × %2 pixels</source>
        <translation>, %1 × %2 Pixel</translation>
    </message>
    <message>
        <source>, %1 each</source>
        <translation>, je %1</translation>
    </message>
    <message>
        <source>No duplicate images in this website.</source>
        <translation>Diese Website enthält keine doppelten Bilder.</translation>
    </message>
    <message>
        <source>1 duplicated image</source>
        <translation>1 mehrfach vorhandenes Bild</translation>
    </message>
    <message>
        <source>%1 duplicated images</source>
        <translation>%1 mehrfach vorhandene Bilder</translation>
    </message>
    <message>
        <source>1 copy to remove</source>
        <translation>1 Kopie zu entfernen</translation>
    </message>
    <message>
        <source>%1 copies to remove</source>
        <translation>%1 Kopien zu entfernen</translation>
    </message>
    <message>
        <source>%1, %2, %3 to save.</source>
        <translation>%1, %2, %3 Ersparnis.</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Not a website folder.</source>
        <translation>Kein Website-Ordner.</translation>
    </message>
    <message>
        <source>WARNING. That folder must contain index.html for it to be the root folder of the site.</source>
        <translation>WARNUNG. Der Stammordner einer Website muss die Datei index.html enthalten.</translation>
    </message>
    <message>
        <source>Choose folder:</source>
        <translation>Ordner wählen:</translation>
    </message>
    <message>
        <source>Choose folder containing root of website.</source>
        <translation>Wählen Sie den Stammordner der Website.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Are you sure?</source>
        <translation>Sind Sie sicher?</translation>
    </message>
    <message>
        <source>WARNING. You are about to overwrite files within your website.</source>
        <translation>WARNUNG. Sie sind dabei, Dateien Ihrer Website zu überschreiben.</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Ja</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Nein</translation>
    </message>
    <message>
        <source>Optimizing %1...</source>
        <translation>%1 wird optimiert …</translation>
    </message>
    <message>
        <source>%v of %m steps</source>
        <translation>%v von %m Schritten</translation>
    </message>
    <message>
        <source>Scanning the site again...</source>
        <translation>Die Website wird erneut durchsucht …</translation>
    </message>
    <message>
        <source>Optimization finished.</source>
        <translation>Optimierung abgeschlossen.</translation>
    </message>
    <message>
        <source>Optimization stopped at a failure.</source>
        <translation>Die Optimierung wurde wegen eines Fehlers abgebrochen.</translation>
    </message>
    <message>
        <source>Creating images folder in root</source>
        <translation>Lege den Bilderordner images im Stammordner an</translation>
    </message>
    <message>
        <source>Unable to create images folder</source>
        <translation>Der Bilderordner images kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>Moving image file: </source>
        <translation>Verschiebe Bilddatei: </translation>
    </message>
    <message>
        <source> to folder: </source>
        <translation> in Ordner: </translation>
    </message>
    <message>
        <source>Unable to move </source>
        <translation>Verschieben nicht möglich: </translation>
    </message>
    <message>
        <source> to the site images folder</source>
        <translation> in den Bilderordner der Website</translation>
    </message>
    <message>
        <source>Removing duplicate file: </source>
        <translation>Entferne doppelte Datei: </translation>
    </message>
    <message>
        <source>Unable to remove </source>
        <translation>Entfernen nicht möglich: </translation>
    </message>
    <message>
        <source> from </source>
        <translation> aus </translation>
    </message>
    <message>
        <source>Restoring duplicate file: </source>
        <translation>Stelle doppelte Datei wieder her: </translation>
    </message>
    <message>
        <source>Unable to restore </source>
        <translation>Wiederherstellen nicht möglich: </translation>
    </message>
    <message>
        <source> to </source>
        <translation> in </translation>
    </message>
    <message>
        <source>Updating file: </source>
        <translation>Aktualisiere Datei: </translation>
    </message>
    <message>
        <source> to use moved image: </source>
        <translation> für das verschobene Bild: </translation>
    </message>
    <message>
        <source>HTML/js file: </source>
        <translation>HTML/JS-Datei: </translation>
    </message>
    <message>
        <source> doesn&apos;t exist</source>
        <translation> existiert nicht</translation>
    </message>
    <message>
        <source>Unable to update </source>
        <translation>Aktualisieren nicht möglich: </translation>
    </message>
    <message>
        <source>Unable to write back to file: </source>
        <translation>Zurückschreiben nicht möglich in Datei: </translation>
    </message>
    <message>
        <source>Keeping </source>
        <translation>Behalte </translation>
    </message>
    <message>
        <source> in </source>
        <translation> in </translation>
    </message>
    <message>
        <source>: </source>
        <translation>: </translation>
    </message>
    <message>
        <source>Kept here, the others lead to it: %1</source>
        <translation>Bleibt hier, die anderen verweisen darauf: %1</translation>
    </message>
    <message>
        <source>Kept as images/%1</source>
        <translation>Bleibt als images/%1</translation>
    </message>
    <message>
        <source>Undo the last optimization?</source>
        <translation>Letzte Optimierung rückgängig machen?</translation>
    </message>
    <message>
        <source>WARNING. You are about to overwrite files within your website: it is put back as it was before the optimization of %1. Files changed since then are left as they are.</source>
        <translation>WARNUNG. Sie überschreiben gleich Dateien Ihrer Website: Sie wird so wiederhergestellt, wie sie vor der Optimierung vom %1 war. Seitdem geänderte Dateien bleiben, wie sie sind.</translation>
    </message>
    <message>
        <source>Unable to undo the last optimization</source>
        <translation>Die letzte Optimierung kann nicht rückgängig gemacht werden</translation>
    </message>
    <message>
        <source>Undoing the last optimization of %1...</source>
        <translation>Mache die letzte Optimierung von %1 rückgängig...</translation>
    </message>
    <message>
        <source>Undo finished.</source>
        <translation>Rückgängig gemacht.</translation>
    </message>
    <message>
        <source>Undo finished; some changes could not be undone.</source>
        <translation>Rückgängig gemacht; einige Änderungen ließen sich nicht zurücknehmen.</translation>
    </message>
    <message>
        <source>: a file that refers to it could not be rewritten</source>
        <translation>: eine Datei, die darauf verweist, konnte nicht neu geschrieben werden</translation>
    </message>
    <message>
        <source>Keeping added file: </source>
        <translation>Behalte hinzugefügte Datei: </translation>
    </message>
    <message>
        <source>Keeping folder, it holds files the optimization did not add: </source>
        <translation>Behalte Ordner, er enthält Dateien, die die Optimierung nicht hinzugefügt hat: </translation>
    </message>
    <message>
        <source>Keeping rewritten file: </source>
        <translation>Behalte neu geschriebene Datei: </translation>
    </message>
    <message>
        <source>Optimization cancelled: every page still shows its images</source>
        <translation>Optimierung abgebrochen: jede Seite zeigt weiterhin ihre Bilder</translation>
    </message>
    <message>
        <source>Removing added file: </source>
        <translation>Entferne hinzugefügte Datei: </translation>
    </message>
    <message>
        <source>Removing added folder: </source>
        <translation>Entferne hinzugefügten Ordner: </translation>
    </message>
    <message>
        <source>Removing leftover temporary file: </source>
        <translation>Entferne zurückgebliebene temporäre Datei: </translation>
    </message>
    <message>
        <source>Restoring file: </source>
        <translation>Stelle Datei wieder her: </translation>
    </message>
    <message>
        <source>Unable to lock the site</source>
        <translation>Die Website kann nicht gesperrt werden</translation>
    </message>
    <message>
        <source>Unable to read every record of the optimization</source>
        <translation>Nicht alle Aufzeichnungen der Optimierung sind lesbar</translation>
    </message>
    <message>
        <source>Unable to read the record of the optimization</source>
        <translation>Die Aufzeichnung der Optimierung ist nicht lesbar</translation>
    </message>
    <message>
        <source>Unable to record the run for undo</source>
        <translation>Die Optimierung kann nicht für das Rückgängigmachen aufgezeichnet werden</translation>
    </message>
    <message>
        <source>Unable to record the undo</source>
        <translation>Das Rückgängigmachen kann nicht aufgezeichnet werden</translation>
    </message>
    <message>
        <source>Unable to remove folder </source>
        <translation>Ordner kann nicht entfernt werden: </translation>
    </message>
    <message>
        <source>Undo complete</source>
        <translation>Rückgängig gemacht</translation>
    </message>
    <message>
        <source>Undo incomplete: changes that could not be undone: </source>
        <translation>Nicht vollständig rückgängig gemacht; nicht zurückgenommene Änderungen: </translation>
    </message>
    <message>
        <source>Undoing the optimization of </source>
        <translation>Mache die Optimierung rückgängig von </translation>
    </message>
    <message>
        <source>Unable to read %1: %2</source>
        <translation>Nicht lesbar: %1: %2</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>MainWindow</name>
    <message>
        <source>Tolvane</source>
        <translation>Tolvane</translation>
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
        <source>Pre&amp;view Changes...</source>
        <translation>Änderungen &amp;vorab zeigen …</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>Abbre&amp;chen</translation>
    </message>
    <message>
        <source>Stops the scan or the optimization (Esc)</source>
        <translation>Hält das Durchsuchen oder die Optimierung an (Esc)</translation>
    </message>
    <message>
        <source>Open the root folder of an exported website to find its duplicate images.</source>
        <translation>Öffnen Sie den Stammordner einer exportierten Website, um ihre doppelten Bilder zu finden.</translation>
    </message>
    <message>
        <source>&amp;Duplicate images</source>
        <translation>Doppelte &amp;Bilder</translation>
    </message>
    <message>
        <source>Cop&amp;ies of the selected image</source>
        <translation>Kop&amp;ien des ausgewählten Bildes</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
    <message>
        <source>Action lo&amp;g</source>
        <translation>Proto&amp;koll</translation>
    </message>
    <message>
        <source>&amp;Save Log...</source>
        <translation>Protokoll &amp;speichern …</translation>
    </message>
    <message>
        <source>Clea&amp;r Log</source>
        <translation>Protokoll &amp;leeren</translation>
    </message>
    <message>
        <source>The actions of each scan and optimization are listed here.</source>
        <translation>Hier werden die Schritte jedes Durchsuchens und jeder Optimierung aufgeführt.</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>S&amp;elect</source>
        <translation>&amp;Auswahl</translation>
    </message>
    <message>
        <source>&amp;Log</source>
        <translation>&amp;Protokoll</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;Scan Again</source>
        <translation>Erneut &amp;durchsuchen</translation>
    </message>
    <message>
        <source>&amp;Undo Last Optimization</source>
        <translation>Letzte Optimierung &amp;rückgängig machen</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;All</source>
        <translation>&amp;Alle</translation>
    </message>
    <message>
        <source>&amp;None</source>
        <translation>&amp;Keine</translation>
    </message>
    <message>
        <source>&amp;Invert</source>
        <translation>&amp;Umkehren</translation>
    </message>
    <message>
        <source>&amp;Only Groups That Save More Than...</source>
        <translation>&amp;Nur Bilder, die mehr sparen als …</translation>
    </message>
    <message>
        <source>&amp;Keep This Copy</source>
        <translation>Diese Kopie &amp;behalten</translation>
    </message>
    <message>
        <source>&amp;Clear Log</source>
        <translation>Protokoll &amp;leeren</translation>
    </message>
    <message>
        <source>&amp;About Tolvane</source>
        <translation>&amp;Über Tolvane</translation>
    </message>
    <message>
        <source>&amp;Open</source>
        <translation>Ö&amp;ffnen</translation>
    </message>
    <message>
        <source>Open Containing &amp;Folder</source>
        <translation>Enthaltenden &amp;Ordner öffnen</translation>
    </message>
    <message>
        <source>&amp;Copy Path</source>
        <translation>Pfad &amp;kopieren</translation>
    </message>
</context>
<context>
    <name>tolvane::EventText</name>
    <message>
        <source>Its content differs from the copy kept in the site images folder</source>
        <translation>Ihr Inhalt weicht von der im Bilderordner der Website behaltenen Kopie ab</translation>
    </message>
    <message>
        <source>The site images folder already holds a different image under that name</source>
        <translation>Der Bilderordner der Website enthält unter diesem Namen schon ein anderes Bild</translation>
    </message>
    <message>
        <source>The file is not valid UTF-8 text</source>
        <translation>Die Datei ist kein gültiger UTF-8-Text</translation>
    </message>
    <message>
        <source>It was changed after the optimization</source>
        <translation>Sie wurde nach der Optimierung geändert</translation>
    </message>
    <message>
        <source>No file in the site holds its bytes any more</source>
        <translation>Keine Datei der Website enthält ihre Bytes mehr</translation>
    </message>
    <message>
        <source>Its path leads outside the site or through a link</source>
        <translation>Ihr Pfad führt aus der Website hinaus oder durch eine Verknüpfung</translation>
    </message>
    <message>
        <source>The record of the optimization is damaged</source>
        <translation>Die Aufzeichnung der Optimierung ist beschädigt</translation>
    </message>
    <message>
        <source>A file of the site still refers to it</source>
        <translation>Eine Datei der Website verweist noch darauf</translation>
    </message>
    <message>
        <source>It was changed while the optimization ran; the change is kept</source>
        <translation>Sie wurde während der Optimierung geändert; die Änderung bleibt erhalten</translation>
    </message>
    <message>
        <source>A text file of the site could not be read and may refer to it</source>
        <translation>Eine Textdatei der Website war nicht lesbar und verweist vielleicht darauf</translation>
    </message>
    <message>
        <source>A file that refers to it is not valid UTF-8 text</source>
        <translation>Eine Datei, die darauf verweist, ist kein gültiger UTF-8-Text</translation>
    </message>
    <message>
        <source>A file that refers to it cannot be written back</source>
        <translation>Eine Datei, die darauf verweist, kann nicht zurückgeschrieben werden</translation>
    </message>
    <message>
        <source>A file refers to it in a way that cannot be rewritten</source>
        <translation>Eine Datei verweist darauf in einer Form, die sich nicht umschreiben lässt</translation>
    </message>
    <message>
        <source>It was chosen to stay where it is</source>
        <translation>Sie soll so gewählt bleiben, wo sie ist</translation>
    </message>
    <message>
        <source>Cannot create folder %1</source>
        <translation>Ordner %1 kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>Cannot move %1 to %2</source>
        <translation>%1 kann nicht nach %2 verschoben werden</translation>
    </message>
    <message>
        <source>Cannot move %1</source>
        <translation>%1 kann nicht verschoben werden</translation>
    </message>
    <message>
        <source>Cannot remove %1</source>
        <translation>%1 kann nicht entfernt werden</translation>
    </message>
    <message>
        <source>Cannot read %1</source>
        <translation>%1 kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>Cannot write %1</source>
        <translation>%1 kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>Cannot compare %1 with %2</source>
        <translation>%1 kann nicht mit %2 verglichen werden</translation>
    </message>
    <message>
        <source>Cannot compare %1</source>
        <translation>%1 kann nicht verglichen werden</translation>
    </message>
    <message>
        <source>file</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>“%1” was left as it is. %2.</source>
        <translation>„%1“ blieb, wie es ist. %2.</translation>
    </message>
    <message>
        <source>“%1” could not be created. %2.</source>
        <translation>„%1“ konnte nicht angelegt werden. %2.</translation>
    </message>
    <message>
        <source>“%1” could not be moved to “%2”. %3.</source>
        <translation>„%1“ konnte nicht nach „%2“ verschoben werden. %3.</translation>
    </message>
    <message>
        <source>“%1” could not be moved. %2.</source>
        <translation>„%1“ konnte nicht verschoben werden. %2.</translation>
    </message>
    <message>
        <source>“%1” could not be removed. %2.</source>
        <translation>„%1“ konnte nicht entfernt werden. %2.</translation>
    </message>
    <message>
        <source>“%1” could not be read. %2.</source>
        <translation>„%1“ konnte nicht gelesen werden. %2.</translation>
    </message>
    <message>
        <source>“%1” could not be written. %2.</source>
        <translation>„%1“ konnte nicht geschrieben werden. %2.</translation>
    </message>
    <message>
        <source>“%1” could not be compared. %2.</source>
        <translation>„%1“ konnte nicht verglichen werden. %2.</translation>
    </message>
    <message>
        <source>Unable to lock the site</source>
        <translation>Die Website kann nicht gesperrt werden</translation>
    </message>
    <message>
        <source>Unable to record the run for undo</source>
        <translation>Die Optimierung kann nicht für das Rückgängigmachen aufgezeichnet werden</translation>
    </message>
    <message>
        <source>Unable to create images folder</source>
        <translation>Der Bilderordner images kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>Unable to move %1 to the site images folder</source>
        <translation>Verschieben nicht möglich: %1 in den Bilderordner der Website</translation>
    </message>
    <message>
        <source>Unable to remove %1 from %2</source>
        <translation>Entfernen nicht möglich: %1 aus %2</translation>
    </message>
    <message>
        <source>Unable to update %1</source>
        <translation>Aktualisieren nicht möglich: %1</translation>
    </message>
    <message>
        <source>Unable to write back to file: %1</source>
        <translation>Zurückschreiben nicht möglich in Datei: %1</translation>
    </message>
    <message>
        <source>Keeping %1 in %2: %3</source>
        <translation>Behalte %1 in %2: %3</translation>
    </message>
    <message>
        <source>Unable to read the record of the optimization</source>
        <translation>Die Aufzeichnung der Optimierung ist nicht lesbar</translation>
    </message>
    <message>
        <source>Unable to read every record of the optimization</source>
        <translation>Nicht alle Aufzeichnungen der Optimierung sind lesbar</translation>
    </message>
    <message>
        <source>Unable to record the undo</source>
        <translation>Das Rückgängigmachen kann nicht aufgezeichnet werden</translation>
    </message>
    <message>
        <source>Unable to restore %1 to %2</source>
        <translation>Wiederherstellen nicht möglich: %1 in %2</translation>
    </message>
    <message>
        <source>Unable to restore %1</source>
        <translation>Wiederherstellen nicht möglich: %1</translation>
    </message>
    <message>
        <source>Unable to restore the rewritten files: a removed copy could not be put back</source>
        <translation>Die umgeschriebenen Dateien können nicht wiederhergestellt werden: eine entfernte Kopie konnte nicht zurückgelegt werden</translation>
    </message>
    <message>
        <source>Unable to restore the rewritten files: their earlier text refers to a file that is missing</source>
        <translation>Die umgeschriebenen Dateien können nicht wiederhergestellt werden: ihr früherer Text verweist auf eine fehlende Datei</translation>
    </message>
    <message>
        <source>Unable to remove folder %1</source>
        <translation>Ordner kann nicht entfernt werden: %1</translation>
    </message>
    <message>
        <source>Starting optimization - calculate number of actions</source>
        <translation>Starte die Optimierung – berechne die Zahl der Schritte</translation>
    </message>
    <message>
        <source>Creating images folder in root</source>
        <translation>Lege den Bilderordner images im Stammordner an</translation>
    </message>
    <message>
        <source>Removing leftover temporary file: %1</source>
        <translation>Entferne zurückgebliebene temporäre Datei: %1</translation>
    </message>
    <message>
        <source>Moving image file: %1 to folder: %2</source>
        <translation>Verschiebe Bilddatei: %1 in Ordner: %2</translation>
    </message>
    <message>
        <source>Updating file: %1 to use moved image: %2</source>
        <translation>Aktualisiere Datei: %1 für das verschobene Bild: %2</translation>
    </message>
    <message>
        <source>HTML/js file: %1 doesn&apos;t exist</source>
        <translation>HTML/JS-Datei: %1 existiert nicht</translation>
    </message>
    <message>
        <source>Keeping %1: %2</source>
        <translation>Behalte %1: %2</translation>
    </message>
    <message>
        <source>Keeping %1: a file that refers to it could not be rewritten</source>
        <translation>Behalte %1: eine Datei, die darauf verweist, konnte nicht neu geschrieben werden</translation>
    </message>
    <message>
        <source>Removing duplicate file: %1 from %2</source>
        <translation>Entferne doppelte Datei: %1 aus %2</translation>
    </message>
    <message>
        <source>Optimization cancelled: every page still shows its images</source>
        <translation>Optimierung abgebrochen: jede Seite zeigt weiterhin ihre Bilder</translation>
    </message>
    <message>
        <source>Undoing the optimization of %1</source>
        <translation>Mache die Optimierung vom %1 rückgängig</translation>
    </message>
    <message>
        <source>Restoring duplicate file: %1 to %2</source>
        <translation>Stelle doppelte Datei wieder her: %1 in %2</translation>
    </message>
    <message>
        <source>Restoring file: %1</source>
        <translation>Stelle Datei wieder her: %1</translation>
    </message>
    <message>
        <source>Keeping rewritten file: %1</source>
        <translation>Behalte neu geschriebene Datei: %1</translation>
    </message>
    <message>
        <source>Keeping added file: %1</source>
        <translation>Behalte hinzugefügte Datei: %1</translation>
    </message>
    <message>
        <source>Removing added file: %1</source>
        <translation>Entferne hinzugefügte Datei: %1</translation>
    </message>
    <message>
        <source>Removing added folder: %1</source>
        <translation>Entferne hinzugefügten Ordner: %1</translation>
    </message>
    <message>
        <source>Keeping folder, it holds files the optimization did not add: %1</source>
        <translation>Behalte Ordner, er enthält Dateien, die die Optimierung nicht hinzugefügt hat: %1</translation>
    </message>
    <message>
        <source>Cannot create folder %1 to %2</source>
        <translation>Ordner %1 kann nicht nach %2 angelegt werden</translation>
    </message>
    <message>
        <source>Cannot remove %1 to %2</source>
        <translation>%1 kann nicht nach %2 entfernt werden</translation>
    </message>
    <message>
        <source>Cannot read %1 to %2</source>
        <translation>%1 kann nicht nach %2 gelesen werden</translation>
    </message>
    <message>
        <source>Cannot write %1 to %2</source>
        <translation>%1 kann nicht nach %2 geschrieben werden</translation>
    </message>
    <message>
        <source>an absolute URL: where it leads on the published site is not known</source>
        <translation>eine absolute URL: wohin sie auf der veröffentlichten Website führt, ist nicht bekannt</translation>
    </message>
    <message>
        <source>a URL from the server&apos;s root: where the site lies on the server is not known</source>
        <translation>eine URL ab dem Stammordner des Servers: wo die Website auf dem Server liegt, ist nicht bekannt</translation>
    </message>
    <message>
        <source>a URL in a form not recognised (a % not followed by two hex digits)</source>
        <translation>eine URL in einer nicht erkannten Form (ein % ohne zwei folgende Hexziffern)</translation>
    </message>
    <message>
        <source>a URL in a form not recognised (an encoded / or NUL inside a name)</source>
        <translation>eine URL in einer nicht erkannten Form (ein kodiertes / oder NUL in einem Namen)</translation>
    </message>
    <message>
        <source>a URL in a form not recognised (a backslash inside the path)</source>
        <translation>eine URL in einer nicht erkannten Form (ein umgekehrter Schrägstrich im Pfad)</translation>
    </message>
    <message>
        <source>the file&apos;s base is not known (its &lt;base href=&quot;%1&quot;&gt; leads outside the site&apos;s folders)</source>
        <translation>die Basis der Datei ist nicht bekannt (ihr &lt;base href=&quot;%1&quot;&gt; führt aus den Ordnern der Website hinaus)</translation>
    </message>
    <message>
        <source>the file&apos;s base is not known (a script outside every page folder that no page loads)</source>
        <translation>die Basis der Datei ist nicht bekannt (ein Skript außerhalb aller Seitenordner, das keine Seite lädt)</translation>
    </message>
    <message>
        <source>the file&apos;s base is not known (a script loaded by pages in different folders)</source>
        <translation>die Basis der Datei ist nicht bekannt (ein Skript, das Seiten in verschiedenen Ordnern laden)</translation>
    </message>
    <message>
        <source>leads to nothing here; a script may complete it at run time</source>
        <translation>führt hier ins Leere; ein Skript ergänzt sie vielleicht zur Laufzeit</translation>
    </message>
    <message>
        <source>the name %1 stands in a form not recognised</source>
        <translation>der Name %1 steht in einer nicht erkannten Form</translation>
    </message>
    <message>
        <source>could not be read (%1), so it may refer to this image</source>
        <translation>konnte nicht gelesen werden (%1) und verweist daher vielleicht auf dieses Bild</translation>
    </message>
    <message>
        <source>is not UTF-8 text (UTF-16, UTF-32 or NUL bytes) and may show this image</source>
        <translation>ist kein UTF-8-Text (UTF-16, UTF-32 oder NUL-Bytes) und zeigt vielleicht dieses Bild</translation>
    </message>
    <message>
        <source>is not valid UTF-8 text</source>
        <translation>ist kein gültiger UTF-8-Text</translation>
    </message>
    <message>
        <source>is reached through a symbolic link; never written through a link</source>
        <translation>wird über eine symbolische Verknüpfung erreicht; durch eine Verknüpfung wird nie geschrieben</translation>
    </message>
    <message>
        <source>cannot be written back: cannot be examined: %1</source>
        <translation>kann nicht zurückgeschrieben werden: kann nicht untersucht werden: %1</translation>
    </message>
    <message>
        <source>cannot be written back: the file is read-only</source>
        <translation>kann nicht zurückgeschrieben werden: die Datei ist schreibgeschützt</translation>
    </message>
    <message>
        <source>cannot be written back: its folder cannot be written: %1</source>
        <translation>kann nicht zurückgeschrieben werden: in ihren Ordner kann nicht geschrieben werden: %1</translation>
    </message>
    <message>
        <source>the file changed since it was read (line %1)</source>
        <translation>die Datei hat sich geändert, seit sie gelesen wurde (Zeile %1)</translation>
    </message>
    <message>
        <source>line %1: &quot;%2&quot;: no relative path leads to %3</source>
        <translation>Zeile %1: „%2“: kein relativer Pfad führt zu %3</translation>
    </message>
    <message>
        <source>line %1: &quot;%2&quot;: %3</source>
        <translation>Zeile %1: „%2“: %3</translation>
    </message>
    <message>
        <source>was chosen to stay where it is</source>
        <translation>soll auf Wunsch bleiben, wo sie ist</translation>
    </message>
    <message>
        <source>Another Tolvane run or undo is working on %1; try again when it has finished.</source>
        <translation>Eine andere Optimierung oder ein Rückgängigmachen von Tolvane bearbeitet gerade %1; versuchen Sie es erneut, wenn es beendet ist.</translation>
    </message>
</context>
<context>
    <name>tolvane::LogView</name>
    <message>
        <source>Save Log</source>
        <translation>Protokoll speichern</translation>
    </message>
    <message>
        <source>Text files (*.txt *.log);;All files (*)</source>
        <translation>Textdateien (*.txt *.log);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>tolvane-log.txt</source>
        <translation>tolvane-protokoll.txt</translation>
    </message>
    <message>
        <source>  from: %1</source>
        <translation>  von: %1</translation>
    </message>
    <message>
        <source>  to: %1</source>
        <translation>  nach: %1</translation>
    </message>
    <message>
        <source>Moving image file: </source>
        <translation>Verschiebe Bilddatei: </translation>
    </message>
</context>
<context>
    <name>tolvane::PlanText</name>
    <message>
        <source>%1 cannot be read</source>
        <translation>%1 ist nicht lesbar</translation>
    </message>
    <message>
        <source>%1 is not UTF-8</source>
        <translation>%1 ist kein UTF-8</translation>
    </message>
    <message>
        <source>%1 cannot be written</source>
        <translation>%1 ist nicht schreibbar</translation>
    </message>
    <message>
        <source>%1 refers to it in a form that cannot be rewritten</source>
        <translation>%1 verweist darauf in einer Form, die sich nicht umschreiben lässt</translation>
    </message>
    <message>
        <source>Kept as images/%1</source>
        <translation>Behalten als images/%1</translation>
    </message>
    <message>
        <source>Removed</source>
        <translation>Entfernt</translation>
    </message>
    <message>
        <source>Stays: %1</source>
        <translation>Bleibt: %1</translation>
    </message>
    <message>
        <source>Stays: images/ holds other pictures under its names</source>
        <translation>Bleibt: images/ enthält unter seinen Namen andere Bilder</translation>
    </message>
    <message>
        <source>Stays: no copy of this image can go</source>
        <translation>Bleibt: keine Kopie dieses Bildes kann entfernt werden</translation>
    </message>
    <message>
        <source>Kept, already in images/</source>
        <translation>Behalten, schon in images/</translation>
    </message>
    <message>
        <source>Kept here, the others lead to it</source>
        <translation>Hier behalten, die anderen führen hierher</translation>
    </message>
    <message>
        <source>Kept as %1</source>
        <translation>Behalten als %1</translation>
    </message>
    <message>
        <source>(stays as it is)</source>
        <translation>(bleibt, wie es ist)</translation>
    </message>
    <message>
        <source>chosen to stay here</source>
        <translation>bleibt hier, so gewählt</translation>
    </message>
    <message>
        <source> (and %L1 more)</source>
        <translation> (und %L1 weitere)</translation>
    </message>
</context>
<context>
    <name>tolvane::PreviewDialog</name>
    <message>
        <source>Filter by file or change</source>
        <translation>Nach Datei oder Änderung filtern</translation>
    </message>
    <message>
        <source>&amp;Filter:</source>
        <translation>&amp;Filter:</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>After optimizing</source>
        <translation>Nach der Optimierung</translation>
    </message>
    <message>
        <source>&amp;Save as Text...</source>
        <translation>Als Text &amp;speichern …</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Save as Text</source>
        <translation>Als Text speichern</translation>
    </message>
    <message>
        <source>Text files (*.txt);;All files (*)</source>
        <translation>Textdateien (*.txt);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>tolvane-preview.txt</source>
        <translation>tolvane-vorschau.txt</translation>
    </message>
    <message>
        <source>Unable to save the preview to %1</source>
        <translation>Die Vorschau kann nicht in %1 gespeichert werden</translation>
    </message>
    <message>
        <source>Rewritten: “%1” → “%2”</source>
        <translation>Neu geschrieben: „%1“ → „%2“</translation>
    </message>
    <message>
        <source>Preview of the Changes to %1</source>
        <translation>Vorschau der Änderungen an %1</translation>
    </message>
</context>
<context>
    <name>tolvane::ProgressView</name>
    <message>
        <source>Finding the references to the copies: %L1 of %L2 text files read</source>
        <translation>Die Verweise auf die Kopien werden gesucht: %L1 von %L2 Textdateien gelesen</translation>
    </message>
    <message>
        <source>Finding the references to the copies...</source>
        <translation>Die Verweise auf die Kopien werden gesucht …</translation>
    </message>
    <message>
        <source>Scanning: %L1 entries walked</source>
        <translation>Durchsuchen: %L1 Einträge durchlaufen</translation>
    </message>
    <message>
        <source>%v of %m steps, %1 elapsed, about %2 left</source>
        <translation>%v von %m Schritten, %1 vergangen, noch etwa %2</translation>
    </message>
    <message>
        <source>%v of %m steps, %1 elapsed</source>
        <translation>%v von %m Schritten, %1 vergangen</translation>
    </message>
    <message>
        <source>Comparing images: %1 of %2 read</source>
        <translation>Vergleiche Bilder: %1 von %2 gelesen</translation>
    </message>
</context>
<context>
    <name>tolvane::ResultTables</name>
    <message>
        <source>Only Groups That Save More Than</source>
        <translation>Nur Bilder, die mehr sparen als</translation>
    </message>
    <message>
        <source>Take only the images whose copies save more than (for example 100 KB or 2 MB):</source>
        <translation>Nur die Bilder nehmen, deren Kopien mehr sparen als (zum Beispiel 100 KB oder 2 MB):</translation>
    </message>
    <message>
        <source>100 KB</source>
        <translation>100 KB</translation>
    </message>
    <message>
        <source>“%1” is not a size.</source>
        <translation>„%1“ ist keine Größe.</translation>
    </message>
    <message>
        <source>Write a number, with B, KB, MB or GB after it.</source>
        <translation>Schreiben Sie eine Zahl, gefolgt von B, KB, MB oder GB.</translation>
    </message>
    <message>
        <source>Select an image to see it here.</source>
        <translation>Wählen Sie ein Bild aus, um es hier zu sehen.</translation>
    </message>
    <message>
        <source>Stays: its image is left alone</source>
        <translation>Bleibt: dieses Bild bleibt unangetastet</translation>
    </message>
    <message>
        <source>This image cannot be shown.</source>
        <translation>Dieses Bild kann nicht angezeigt werden.</translation>
    </message>
    <message>
        <source>, %L1 × %L2 pixels</source>
        <translation>, %L1 × %L2 Pixel</translation>
    </message>
    <message>
        <source>, %1 each</source>
        <translation>, je %1</translation>
    </message>
    <message>
        <source>Image</source>
        <translation>Bild</translation>
    </message>
    <message>
        <source>Digest</source>
        <translation>Prüfsumme</translation>
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
        <source>Kept as</source>
        <translation>Behalten als</translation>
    </message>
    <message>
        <source>MD5 digest %1: images of the same name with other contents have other digests</source>
        <translation>MD5-Prüfsumme %1: Bilder gleichen Namens mit anderem Inhalt haben andere Prüfsummen</translation>
    </message>
    <message>
        <source>References in the site&apos;s pages, scripts, stylesheets and feeds that point at the copies</source>
        <translation>Verweise in den Seiten, Skripten, Stylesheets und Feeds der Website, die auf die Kopien zeigen</translation>
    </message>
    <message>
        <source>%1
Where the image&apos;s bytes are after optimizing</source>
        <translation>%1
Wo die Bytes des Bildes nach der Optimierung liegen</translation>
    </message>
    <message>
        <source>Where the image&apos;s bytes are after optimizing</source>
        <translation>Wo die Bytes des Bildes nach der Optimierung liegen</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopie</translation>
    </message>
    <message>
        <source>After optimizing</source>
        <translation>Nach der Optimierung</translation>
    </message>
</context>
<context>
    <name>tolvane::RunSummaryText</name>
    <message>
        <source>Preview of the optimization: nothing was changed.</source>
        <translation>Vorschau der Optimierung: nichts wurde geändert.</translation>
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
        <source>1 copy</source>
        <translation>1 Kopie</translation>
    </message>
    <message>
        <source>1 file</source>
        <translation>1 Datei</translation>
    </message>
    <message>
        <source>A run would remove %1, save %2 and rewrite %3; %4 would stay.</source>
        <translation>Eine Optimierung würde %1 entfernen, %2 einsparen und %3 neu schreiben; %4 würden bleiben.</translation>
    </message>
    <message>
        <source>Removed %1, saved %2; %3 rewritten; %4 stayed.</source>
        <translation>%1 entfernt, %2 eingespart; %3 neu geschrieben; %4 geblieben.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Optimization cancelled. The website is as it was before.</source>
        <translation>Optimierung abgebrochen. Die Website ist wieder wie vorher.</translation>
    </message>
    <message>
        <source>Optimization cancelled. Some of its changes could not be put back.</source>
        <translation>Optimierung abgebrochen. Einige ihrer Änderungen ließen sich nicht zurücknehmen.</translation>
    </message>
    <message>
        <source>Everything the run had changed was put back.</source>
        <translation>Alles, was der Lauf geändert hatte, wurde zurückgenommen.</translation>
    </message>
    <message>
        <source>1 change stayed in place; the log says which.</source>
        <translation>1 Änderung ist geblieben; das Protokoll nennt sie.</translation>
    </message>
    <message>
        <source>No duplicate images are left.</source>
        <translation>Es sind keine doppelten Bilder mehr übrig.</translation>
    </message>
    <message>
        <source>1 duplicated image is left; its copies have to stay where they are.</source>
        <translation>1 doppeltes Bild ist übrig; seine Kopien müssen bleiben, wo sie sind.</translation>
    </message>
    <message>
        <source>1 duplicated image is left, with %1 that a new run could remove.</source>
        <translation>1 doppeltes Bild ist übrig, mit %1, die ein neuer Lauf entfernen könnte.</translation>
    </message>
    <message>
        <source>%L1 copies</source>
        <translation>%L1 Kopien</translation>
    </message>
    <message>
        <source>%L1 files</source>
        <translation>%L1 Dateien</translation>
    </message>
    <message>
        <source>%L1 changes stayed in place; the log says which.</source>
        <translation>%L1 Änderungen sind geblieben; das Protokoll nennt sie.</translation>
    </message>
    <message>
        <source>%L1 duplicated images are left; their copies have to stay where they are.</source>
        <translation>%L1 doppelte Bilder sind übrig; ihre Kopien müssen bleiben, wo sie sind.</translation>
    </message>
    <message>
        <source>%L1 duplicated images are left, with %2 that a new run could remove.</source>
        <translation>%L1 doppelte Bilder sind übrig, mit %2, die ein neuer Lauf entfernen könnte.</translation>
    </message>
</context>
<context>
    <name>tolvane::Sheets</name>
    <message>
        <source>The undo is still in progress.</source>
        <translation>Das Rückgängigmachen läuft noch.</translation>
    </message>
    <message>
        <source>Tolvane can close when it has finished.</source>
        <translation>Tolvane kann sich schließen, wenn es fertig ist.</translation>
    </message>
    <message>
        <source>&amp;Close When Finished</source>
        <translation>Nach &amp;Abschluss schließen</translation>
    </message>
    <message>
        <source>&amp;Keep Open</source>
        <translation>&amp;Offen lassen</translation>
    </message>
    <message>
        <source>The optimization is still in progress.</source>
        <translation>Die Optimierung läuft noch.</translation>
    </message>
    <message>
        <source>Cancel it? It stops at its next safe point and puts back what it has changed, then Tolvane closes.</source>
        <translation>Abbrechen? Sie hält an der nächsten sicheren Stelle an und nimmt zurück, was sie geändert hat, dann schließt sich Tolvane.</translation>
    </message>
    <message>
        <source>&amp;Stop and Close</source>
        <translation>&amp;Anhalten und schließen</translation>
    </message>
    <message>
        <source>&amp;Keep Running</source>
        <translation>&amp;Weiterlaufen lassen</translation>
    </message>
    <message>
        <source>About Tolvane</source>
        <translation>Über Tolvane</translation>
    </message>
    <message>
        <source>Tolvane %1</source>
        <translation>Tolvane %1</translation>
    </message>
    <message>
        <source>Finds the images an exported website holds more than once, keeps one copy of each and rewrites the pages that showed the others.

Licence: %1</source>
        <translation>Findet die Bilder, die eine exportierte Website mehrfach enthält, behält je eine Kopie und schreibt die Seiten um, die die anderen zeigten.

Lizenz: %1</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Optimize %1?</source>
        <translation>%1 optimieren?</translation>
    </message>
    <message>
        <source>%1 will be removed, %2 rewritten, %3 saved. Files within your website are overwritten; Undo Last Optimization can put them back.</source>
        <translation>Entfernt werden: %1, neu geschrieben: %2, eingespart: %3. Dateien Ihrer Website werden überschrieben; „Letzte Optimierung rückgängig machen“ kann sie wiederherstellen.</translation>
    </message>
    <message>
        <source>1 copy</source>
        <translation>1 Kopie</translation>
    </message>
    <message>
        <source>%L1 copies</source>
        <translation>%L1 Kopien</translation>
    </message>
    <message>
        <source>1 file</source>
        <translation>1 Datei</translation>
    </message>
    <message>
        <source>%L1 files</source>
        <translation>%L1 Dateien</translation>
    </message>
    <message>
        <source>&amp;Optimize</source>
        <translation>&amp;Optimieren</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>Abbre&amp;chen</translation>
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
        <source>&amp;Undo</source>
        <translation>&amp;Rückgängig machen</translation>
    </message>
    <message>
        <source>Proprietary</source>
        <translation>Proprietär</translation>
    </message>
</context>
<context>
    <name>tolvane::SiteChooser</name>
    <message>
        <source>&amp;Open</source>
        <translation>Ö&amp;ffnen</translation>
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
        <source>“%1” is not a website folder.</source>
        <translation>„%1“ ist kein Website-Ordner.</translation>
    </message>
    <message>
        <source>A website&apos;s root folder holds index.html. Choose the folder of the site itself.</source>
        <translation>Der Stammordner einer Website enthält index.html. Wählen Sie den Ordner der Website selbst.</translation>
    </message>
    <message>
        <source>A website&apos;s root folder holds index.html. Its folder “%1” does: open that one?</source>
        <translation>Der Stammordner einer Website enthält index.html. Sein Ordner „%1“ tut das: diesen öffnen?</translation>
    </message>
    <message>
        <source>&amp;Open “%1”</source>
        <translation>„%1“ ö&amp;ffnen</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>Abbre&amp;chen</translation>
    </message>
</context>
<context>
    <name>tolvane::TolvaneAppDelegate</name>
    <message>
        <source>Scanning %1...</source>
        <translation>%1 wird durchsucht …</translation>
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
        <source>No duplicate images in this website.</source>
        <translation>Diese Website enthält keine doppelten Bilder.</translation>
    </message>
    <message>
        <source>1 duplicated image</source>
        <translation>1 mehrfach vorhandenes Bild</translation>
    </message>
    <message>
        <source>1 copy to remove</source>
        <translation>1 Kopie zu entfernen</translation>
    </message>
    <message>
        <source>%1, %2, %3 to save.</source>
        <translation>%1, %2, %3 Ersparnis.</translation>
    </message>
    <message>
        <source>Optimizing %1...</source>
        <translation>%1 wird optimiert …</translation>
    </message>
    <message>
        <source>Scanning the site again...</source>
        <translation>Die Website wird erneut durchsucht …</translation>
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
        <source>Undo complete</source>
        <translation>Rückgängig gemacht</translation>
    </message>
    <message>
        <source>Unable to read %1: %2</source>
        <translation>Nicht lesbar: %1: %2</translation>
    </message>
    <message>
        <source>Tolvane</source>
        <translation>Tolvane</translation>
    </message>
    <message>
        <source>Scan of %1, %2</source>
        <translation>Durchsuchen von %1, %2</translation>
    </message>
    <message>
        <source>Scan cancelled.</source>
        <translation>Durchsuchen abgebrochen.</translation>
    </message>
    <message>
        <source>Open the root folder of an exported website to find its duplicate images.</source>
        <translation>Öffnen Sie den Stammordner einer exportierten Website, um ihre doppelten Bilder zu finden.</translation>
    </message>
    <message>
        <source>Every copy of the duplicate images has to stay where it is; the copies table says why.</source>
        <translation>Jede Kopie der doppelten Bilder muss bleiben, wo sie ist; die Tabelle der Kopien sagt, warum.</translation>
    </message>
    <message>
        <source>Unable to save the log to %1</source>
        <translation>Das Protokoll kann nicht in %1 gespeichert werden</translation>
    </message>
    <message>
        <source>Optimization of %1, %2</source>
        <translation>Optimierung von %1, %2</translation>
    </message>
    <message>
        <source>Tolvane closes when the work in progress has stopped.</source>
        <translation>Tolvane schließt sich, wenn die laufende Arbeit angehalten ist.</translation>
    </message>
    <message>
        <source>&amp;Undo</source>
        <translation>&amp;Rückgängig machen</translation>
    </message>
    <message>
        <source>Undo of the last optimization of %1, %2</source>
        <translation>Rückgängigmachen der letzten Optimierung von %1, %2</translation>
    </message>
    <message>
        <source>Putting back what the cancelled run had changed</source>
        <translation>Die Änderungen des abgebrochenen Laufs werden zurückgenommen</translation>
    </message>
    <message>
        <source>Preview of the changes shown in the window “%1”. %2</source>
        <translation>Vorschau der Änderungen im Fenster „%1“ gezeigt. %2</translation>
    </message>
    <message>
        <source>Listing the changes a run would make...</source>
        <translation>Liste die Änderungen auf, die eine Optimierung vornähme …</translation>
    </message>
    <message>
        <source>Preview cancelled.</source>
        <translation>Vorschau abgebrochen.</translation>
    </message>
    <message>
        <source>Stopping, then putting back what the run has changed...</source>
        <translation>Wird angehalten, dann wird zurückgenommen, was der Lauf geändert hat …</translation>
    </message>
    <message>
        <source>Undo incomplete: changes that could not be undone: %1</source>
        <translation>Nicht vollständig rückgängig gemacht; nicht zurückgenommene Änderungen: %1</translation>
    </message>
    <message>
        <source>%L1 duplicated images</source>
        <translation>%L1 mehrfach vorhandene Bilder</translation>
    </message>
    <message>
        <source>%L1 copies to remove</source>
        <translation>%L1 Kopien zu entfernen</translation>
    </message>
</context>
</TS>

<?php
// The upload form's receiving end for the demo: keeps every uploaded file
// under uploads/ and answers with one line per file.
$dir = __DIR__ . '/uploads';
@mkdir($dir);
foreach ($_FILES as $field => $file) {
    if ($file['error'] === UPLOAD_ERR_OK) {
        move_uploaded_file($file['tmp_name'], $dir . '/' . basename($file['name']));
    }
    echo "received field $field file {$file['name']} ({$file['size']} bytes)\n";
}
